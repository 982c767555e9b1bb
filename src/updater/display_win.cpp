#include "display.h"

#include <QtPlugin>

// Qt is linked statically into the Windows program: its platform plugin is
// registered here rather than loaded from a folder beside the program.
Q_IMPORT_PLUGIN(QWindowsIntegrationPlugin)

namespace Display {

// A Windows session always has a desktop to attach to.
bool addOffscreenFallback() { return false; }

void dropOffscreenFallback() {}

}  // namespace Display
