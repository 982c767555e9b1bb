#pragma once

#include <string>

namespace Elevation {

// Starts `file` with administrator rights and the command line `parameters`, both
// UTF-8, as an independent process, and returns without waiting for it. A bare
// file name is looked up the way the system shell does: the working directory
// first, then the search path. True when the start was handed over; the outcome
// of the elevation itself (a refused consent) is not known to the caller.
bool runAs(const std::string& file, const std::string& parameters);

}  // namespace Elevation
