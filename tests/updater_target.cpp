#include "updater_target.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <signal.h>

#include "files.h"

namespace {

using TestSupport::readFile;

QList<qint64> allProcesses() {
    QList<qint64> pids;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric) pids << pid;
    }
    return pids;
}

// Processes whose parent is `pid`.
QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> children;
    for (qint64 candidate : allProcesses()) {
        const QByteArray stat = readFile(QString("/proc/%1/stat").arg(candidate));
        // The command name in parentheses may hold blanks: fields follow the last ')'.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid) children << candidate;
    }
    return children;
}

bool liesAt(const QString& program, const QString& wanted) {
    return !program.isEmpty() && (program == wanted || program.startsWith(wanted + "/"));
}

// The Wine prefix's fixed temporary folder (see tests/wine_prefix.sh).
const char kWineTemp[] = "C:/users/Public/Pavlune 临时";

}  // namespace

UpdaterTarget::UpdaterTarget() {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    windows_ = env.value("UPDATER_TARGET") == "wine";
    if (windows_) {
        updater_ = env.value("UPDATER_EXE");
        sevenZip_ = env.value("SEVEN_ZIP_EXE");
        startRecorder_ = env.value("START_RECORDER_EXE");
        taskkill_ = env.value("TASKKILL_EXE");
        fileHolder_ = env.value("FILE_HOLDER_EXE");
        wineRun_ = env.value("WINE_RUN");
        winePrefix_ = env.value("WINEPREFIX");
        wineTempLink_ = winePrefix_ + "/drive_c" + QString(kWineTemp).mid(2);
    } else {
        updater_ = UPDATER_BIN;
        sevenZip_ = QStandardPaths::findExecutable("7zz");
        startRecorder_ = START_RECORDER_BIN;
        taskkill_ = TASKKILL_BIN;
    }
}

const UpdaterTarget& UpdaterTarget::current() {
    static const UpdaterTarget target;
    return target;
}

void UpdaterTarget::prepare(QProcess& process, const QString& program,
                            const QStringList& arguments) const {
    if (windows_) {
        process.setProgram(wineRun_);
        process.setArguments(QStringList{winePrefix_, program} + arguments);
    } else {
        process.setProgram(program);
        process.setArguments(arguments);
    }
}

void UpdaterTarget::useTempFolder(const QString& folder, QProcessEnvironment& env) const {
    if (!windows_) {
        env.insert("TMPDIR", folder);
        return;
    }
    // Wine takes the temporary folder from the prefix's registry, not from the
    // environment: the prefix's folder is made a link to the test's.
    if (QFileInfo(wineTempLink_).isSymLink()) {
        QFile::remove(wineTempLink_);
    } else if (QFileInfo(wineTempLink_).isDir()) {
        QDir(wineTempLink_).removeRecursively();
    }
    QFile::link(folder, wineTempLink_);
}

QString UpdaterTarget::nativePath(const QString& path) const {
    if (!windows_) return path;
    const QString linked = QFileInfo(wineTempLink_).symLinkTarget();
    if (!linked.isEmpty() && (path == linked || path.startsWith(linked + "/"))) {
        return kWineTemp + path.mid(linked.size());
    }
    return "Z:" + path;  // Wine's drive for the host's root
}

QList<qint64> UpdaterTarget::processesRunning(const QString& path) const {
    QList<qint64> found;
    const QString wanted = QFileInfo(path).canonicalFilePath();
    for (qint64 pid : allProcesses()) {
        QString program;
        if (windows_) {
            // A Windows program under Wine runs as the Wine loader, with its own
            // executable mapped; its command line may name it only in part.
            for (const QByteArray& line : readFile(QString("/proc/%1/maps").arg(pid)).split('\n')) {
                const int slash = line.indexOf('/');
                const QString file = QString::fromUtf8(line.mid(slash));
                if (slash > 0 && file.endsWith(".exe", Qt::CaseInsensitive)) {
                    program = file;
                    break;
                }
            }
        } else {
            program = QFileInfo(QString("/proc/%1/exe").arg(pid)).symLinkTarget();
        }
        if (liesAt(program, wanted)) found << pid;
    }
    return found;
}

QString UpdaterTarget::commandLine(qint64 pid) const {
    QByteArray line = readFile(QString("/proc/%1/cmdline").arg(pid));
    // Wine writes the Windows command line over its loader's arguments, the
    // rest of their room left as NUL bytes.
    while (line.endsWith('\0')) line.chop(1);
    return QString::fromUtf8(line.replace('\0', ' '));
}

void UpdaterTarget::killAbruptly(qint64 pid, const QString& app) const {
    // Under Wine a program's children are not its children here: the programs
    // of the application folder are taken as well.
    QList<qint64> all = QList<qint64>{pid} + processesRunning(app);
    for (int i = 0; i < all.size(); ++i) {
        kill(static_cast<pid_t>(all.at(i)), SIGSTOP);
        for (qint64 child : childrenOf(all.at(i))) {
            if (!all.contains(child)) all << child;
        }
    }
    for (qint64 p : all) kill(static_cast<pid_t>(p), SIGKILL);
}

QList<Start> startsRecordedBy(const QString& program) {
    QList<Start> starts;
    const QList<QByteArray> lines = readFile(program + ".record").split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty()) continue;
        const QStringList fields = QString::fromUtf8(line).split('\t');
        starts.append({fields.value(0).toLongLong(), fields.value(1), fields.mid(2)});
    }
    return starts;
}
