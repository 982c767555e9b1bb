#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <glog/logging.h>

#include <cstdlib>
#include <string>

#include "display.h"
#include "elevation.h"
#include "filepath.h"
#include "hot_update_installer.h"
#include "logger.h"
#include "singleton_program.h"
#include "utils.h"
#include "zipper.h"

namespace {

const QString kRunAs = "runas";
const QString kRestart = "restart";
const QString kGuardKey = "Pavlune.exe";
const QString kTrayProgram = "PavluneSystemTrayIcon.exe";
constexpr unsigned long kRestartPauseMs = 1500;

// Starts the tray program elevated, where the worker works; its first argument
// is always "runas".
void startSystemTrayIcon(const QStringList& arguments) {
    const QString parameters = QString("runas %1").arg(arguments.join(" "));
    Elevation::runAs(kTrayProgram.toStdString(), parameters.toStdString(),
                     QDir::currentPath().toStdString());
}

// Checks a staged package against its MD5 sidecar, logging each step. True only
// when both files exist and the sidecar holds exactly the package's digest: an
// upper-case digest or a trailing line break does not match.
bool verifyStagedPackage(const QString& package, const QString& sidecar, const char* notFound) {
    if (!Filepath::exists(package) || !Filepath::exists(sidecar)) {
        LOG(INFO) << notFound;
        return false;
    }
    QString error;
    QString expected;
    if (!Utils::readSimpleFile(sidecar, error, expected)) {
        LOG(WARNING) << "文件读取失败: " << sidecar.toStdString();
        return false;
    }
    QString md5;
    if (!Filepath::fileMd5(md5, package)) {
        LOG(WARNING) << "计算文件md5失败: " << package.toStdString();
        return false;
    }
    const bool matches = md5 == expected;
    LOG(INFO) << "MD5验证结果 " << md5.toStdString() << " " << expected.toStdString() << " "
              << matches;
    return matches;
}

// A staged full installer is started and takes over: the process then ends here.
void tryFullInstaller() {
    const QString installer = Filepath::join({QDir::tempPath(), "pvl_update_install.exe"});
    const QString sidecar = Filepath::join({QDir::tempPath(), "pvl_update_install.dat"});
    if (!verifyStagedPackage(installer, sidecar, "没有发现更新安装包")) return;

    const QString target = Filepath::join({Filepath::dir(installer), "pvl_install.exe"});
    LOG(INFO) << "删除文件 " << target.toStdString() << " " << Filepath::remove(target);
    if (!Filepath::rename(installer, target)) {
        LOG(ERROR) << "更新包重命名失败: " << installer.toStdString() << " => "
                   << target.toStdString();
        return;
    }
    // A download carries no execute permission where files have one; on Windows
    // this changes nothing.
    QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::ExeOwner);
    // Started as a program rather than as a command line, so that a temporary
    // folder with a blank in its path still works.
    const bool started = QProcess::startDetached(target, {});
    LOG(INFO) << "启动程序 " << target.toStdString() << " " << started;
    if (started) std::exit(0);
}

// Extracts a verified hot-update package over the application folder, then
// removes the package and its sidecar whatever the outcome.
void tryHotUpdate(HotUpdateInstaller& installer, const QString& appDir) {
    const QString package = Filepath::join({appDir, "update", "pkg"});
    const QString sidecar = Filepath::join({appDir, "update", "dat"});
    if (!verifyStagedPackage(package, sidecar, "没有发现热更新包")) return;

    // Extracted into a staging folder first: a package that fails part-way (an
    // encrypted or damaged entry) would otherwise have truncated installed files.
    const bool installed = installer.apply([&](const QString& stagingDir) {
        Zipper zipper(package, stagingDir, "zip");
        return zipper.uncompress();
    });
    if (!installer.errorMessage().isEmpty()) {
        LOG(WARNING) << installer.errorMessage().toStdString();
    }
    LOG(INFO) << "解压缩更新包: " << installed;
    LOG(INFO) << "删除文件: " << package.toStdString() << Filepath::remove(package);
    LOG(INFO) << "删除文件: " << sidecar.toStdString() << Filepath::remove(sidecar);
}

// False when the tray program runs, and nothing was looked at.
bool checkUpdate(HotUpdateInstaller& installer, const QString& appDir) {
    // The tray program's executable cannot be opened for writing while it runs.
    if (Filepath::fileBeingUsed(kTrayProgram)) return false;
    // A link in a work folder's place that cannot be removed leaves the work
    // folders unusable this run: no recovery and no hot update go through it.
    const bool workFoldersUsable = installer.dropLinkedWorkFolders();
    if (!workFoldersUsable) LOG(WARNING) << installer.errorMessage().toStdString();
    if (workFoldersUsable && installer.wasInterrupted()) {
        // An earlier run was killed part-way. The folder is put right before
        // either kind of update: a full installer started over moved-aside files
        // would have its work undone by a later recovery. The package of the
        // interrupted run is still here and is applied again.
        const bool recovered = installer.recover();
        LOG(WARNING) << "恢复中断的热更新: " << recovered
                     << (recovered ? std::string() : " " + installer.errorMessage().toStdString());
        if (!recovered) return true;
    }
    tryFullInstaller();
    if (workFoldersUsable) tryHotUpdate(installer, appDir);
    return true;
}

// What an update no longer needs is deleted once the tray program has been
// started, so that the client is back without waiting for it. A file that cannot
// be deleted yet (a running program's, on Windows) is tried again next run.
void freeObsolete(HotUpdateInstaller& installer) {
    if (!installer.freeObsolete()) LOG(WARNING) << installer.errorMessage().toStdString();
}

}  // namespace

int main(int argc, char* argv[]) {
    // The updater shows no window, yet it keeps the GUI application object, with
    // the argument handling that comes with it. Where no display can be reached
    // the offscreen platform plugin stands in for the default one, which would
    // abort; the choice is put back as it was at once, so the programs started
    // below inherit the environment the updater was given.
    const bool offscreen = Display::addOffscreenFallback();
    QApplication app(argc, argv);
    if (offscreen) Display::dropOffscreenFallback();

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2 || arguments.at(1) != kRunAs) {
        const QString parameters = QString("runas %1").arg(arguments.join(" "));
        // The worker finds the tray program, its files and its log folder through
        // the working directory: it is handed on, not left to the system.
        Elevation::runAs(QCoreApplication::applicationName().toStdString(),
                         parameters.toStdString(), QDir::currentPath().toStdString());
        return 0;
    }

    SingletonProgram guard(kGuardKey);
    if (guard.isRunning()) return 0;

    Logger::init("updater", 0);

    const QString appDir = QCoreApplication::applicationDirPath();
    HotUpdateInstaller installer(appDir, Filepath::join({appDir, "update"}));
    bool checked = false;
    if (arguments.last() == kRestart) {
        QThread::msleep(kRestartPauseMs);
        Utils::runSimpleCommand("taskkill", {"/f", "/im", kTrayProgram});
        Utils::runSimpleCommand("taskkill", {"/f", "/im", "pvl_*"});
        checked = checkUpdate(installer, appDir);
        startSystemTrayIcon({kRestart});
    } else {
        checked = checkUpdate(installer, appDir);
        startSystemTrayIcon({});
    }
    // The client shares the guard, and the tray program may start it at once:
    // what is left to do (deleting old files, which can take long) must not keep
    // the client out. A worker started meanwhile may delete them side by side.
    guard.release();
    if (checked) freeObsolete(installer);
    return 0;
}
