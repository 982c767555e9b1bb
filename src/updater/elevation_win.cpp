#include "elevation.h"

#include <windows.h>

#include <shellapi.h>

namespace Elevation {

// The "runas" verb makes the shell ask for administrator consent before it
// starts the program; the shell also resolves a bare file name on its own.
bool runAs(const std::string& file, const std::string& parameters) {
    const HINSTANCE result =
        ShellExecuteA(nullptr, "runas", file.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
    // ShellExecute reports success as a value greater than 32.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace Elevation
