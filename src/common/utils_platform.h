#pragma once

// Operations whose working differs between Windows and other systems; each
// platform file (utils_win.cpp, utils_posix.cpp) implements all of them.

#include <QString>
#include <QStringList>

namespace UtilsPlatform {

// The program path to hand to process creation for `program`. Windows' process
// creation already looks in the application folder before PATH.
QString resolveProgram(const QString& program);

// Opens the default-apps settings page; a no-op where there is none.
void openDefaultAppsSettings();

// The command line registered for opening http addresses, in the form
// `"program" arguments` (Windows: the registry's http open command; elsewhere
// built from the desktop's default web browser). "" when none is registered.
QString registeredHttpCommand();

}  // namespace UtilsPlatform
