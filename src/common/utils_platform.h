#pragma once

// Operations whose working differs between Windows and other systems; each
// platform file (utils_win.cpp, utils_posix.cpp) implements all of them.

#include <QString>

namespace UtilsPlatform {

// The program path to hand to process creation for `program`. Windows' process
// creation already looks in the application folder before PATH.
QString resolveProgram(const QString& program);

// Opens the default-apps settings page; a no-op where there is none.
void openDefaultAppsSettings();

}  // namespace UtilsPlatform
