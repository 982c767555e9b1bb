#include "utils_platform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "desktop_entry.h"
#include "filepath.h"

namespace UtilsPlatform {

namespace {

// xdg-utils are shell scripts asking the desktop; a hung one must not hang us.
constexpr int kXdgToolTimeoutMs = 10000;

// First line of what the tool prints; "" when it is missing, fails or hangs.
QString xdgToolAnswer(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(kXdgToolTimeoutMs)) return QString();
    if (!process.waitForFinished(kXdgToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
        return QString();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).section('\n', 0, 0).trimmed();
}

}  // namespace

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

// The desktop's default web browser: the open command of its desktop file.
QString registeredHttpCommand() {
    QString id = xdgToolAnswer("xdg-settings", {"get", "default-web-browser"});
    if (id.isEmpty()) id = xdgToolAnswer("xdg-mime", {"query", "default", "x-scheme-handler/http"});
    if (id.isEmpty()) return QString();
    return DesktopEntry::openCommand(id);
}

}  // namespace UtilsPlatform
