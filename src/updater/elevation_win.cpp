#include "elevation.h"

#include <QDir>
#include <QString>

#include <windows.h>

#include <shellapi.h>

namespace Elevation {

// The "runas" verb makes the shell ask for administrator consent before it
// starts the program; the shell also resolves a bare file name on its own. The
// wide-character call keeps every letter of a path or argument: the narrow one
// reads its texts in the ANSI code page, where UTF-8 arrives garbled. The
// directory is always named: which one an elevated start gets without it is
// not documented (for command interpreters it is the system folder).
bool runAs(const std::string& file, const std::string& parameters, const std::string& workingDir) {
    const std::wstring wideFile = QString::fromStdString(file).toStdWString();
    const std::wstring wideParameters = QString::fromStdString(parameters).toStdWString();
    const std::wstring wideDirectory =
        QDir::toNativeSeparators(QString::fromStdString(workingDir)).toStdWString();
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"runas", wideFile.c_str(), wideParameters.c_str(),
                      wideDirectory.c_str(), SW_SHOWNORMAL);
    // ShellExecute reports success as a value greater than 32.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace Elevation
