#pragma once

#include <string>

namespace Elevation {

// Starts `file` with administrator rights and the command line `parameters` as
// an independent process working in `workingDir`, all three UTF-8, and returns
// without waiting for it. A bare file name is looked up the way the system shell
// does: the working directory first, then the search path. True when the start
// was handed over; the outcome of the elevation itself (a refused consent) is
// not known to the caller.
bool runAs(const std::string& file, const std::string& parameters, const std::string& workingDir);

}  // namespace Elevation
