#include "utils_platform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include "filepath.h"

namespace UtilsPlatform {

// Windows' process creation looks for a bare name in the application's folder
// before PATH; callers rely on that to run tools shipped beside the program.
QString resolveProgram(const QString& program) {
    if (program.isEmpty() || program.contains('/')) return program;
    const QString besideUs = Filepath::join({QCoreApplication::applicationDirPath(), program});
    const QFileInfo info(besideUs);
    if (info.isFile() && info.isExecutable()) return besideUs;
    const QString inPath = QStandardPaths::findExecutable(program);
    return inPath.isEmpty() ? program : inPath;
}

void openDefaultAppsSettings() {}

}  // namespace UtilsPlatform
