#include "display.h"

namespace Display {

// A Windows session always has a desktop to attach to.
bool addOffscreenFallback() { return false; }

}  // namespace Display
