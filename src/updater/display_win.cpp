#include "display.h"

namespace Display {

// A Windows session always has a desktop to attach to.
bool chooseOffscreenPlatformIfNoDisplay() { return false; }

}  // namespace Display
