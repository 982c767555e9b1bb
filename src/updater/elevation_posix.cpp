#include "elevation.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <unistd.h>

namespace Elevation {

namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The Windows shell looks for a bare name in the working directory before the
// search path; a name with a folder is taken as it is.
QString resolve(const QString& file, const QString& workingDir) {
    if (file.contains('/')) return QFileInfo(file).absoluteFilePath();
    const QString inWorkingDir = QDir(workingDir).absoluteFilePath(file);
    if (isExecutableFile(inWorkingDir)) return inWorkingDir;
    const QString inPath = QStandardPaths::findExecutable(file);
    return inPath.isEmpty() ? file : inPath;
}

}  // namespace

bool runAs(const std::string& file, const std::string& parameters, const std::string& workingDir) {
    const QString directory = QString::fromStdString(workingDir);
    QString program = resolve(QString::fromStdString(file), directory);
    QStringList arguments = QString::fromStdString(parameters).split(' ');
    arguments.removeAll(QString());
    if (geteuid() != 0) {
        // pkexec is the counterpart of the consent prompt. It starts the program in
        // root's home folder with a cleared environment, so env carries over the
        // working directory, against which the started programs resolve their
        // files, and the user's temporary folder, where full installers wait.
        const QString pkexec = QStandardPaths::findExecutable("pkexec");
        const QString env = QStandardPaths::findExecutable("env");
        if (!pkexec.isEmpty() && !env.isEmpty()) {
            arguments.prepend(program);
            const QByteArray tmpdir = qgetenv("TMPDIR");
            if (!tmpdir.isEmpty()) arguments.prepend("TMPDIR=" + QString::fromLocal8Bit(tmpdir));
            arguments.prepend("--chdir=" + directory);
            arguments.prepend(env);
            program = pkexec;
        }
    }
    return QProcess::startDetached(program, arguments, directory);
}

}  // namespace Elevation
