// Child process for tests of what is process-wide or crosses a process
// boundary: glog's set-up, the single-instance guard, command lookup.
//   foundation_child log NAME THRESHOLD [NAME2 THRESHOLD2]
//   foundation_child guard KEY hold            prints taken/busy, waits for stdin EOF
//   foundation_child guard KEY once            prints taken/busy, ends
//   foundation_child guard KEY keep MS         takes it silently once it is free, ends
//                                              after MS milliseconds
//   foundation_child guard KEY spawn PROGRAM [ARGS...]
//                                              takes it, starts PROGRAM detached, prints its pid
//   foundation_child guard KEY twice           two guard objects in one process
//   foundation_child guard KEY release         prints taken/busy, releases, prints
//                                              released, then taken/busy again when a
//                                              line arrives on stdin; waits for EOF
//   foundation_child run PROGRAM [ARGS...]     prints what runSimpleCommand returned
//   foundation_child sleep MS                  ends after MS milliseconds, as a running program
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <glog/logging.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "logger.h"
#include "singleton_program.h"
#include "utils.h"

namespace {

int runLog(const QStringList& args) {
    Logger::init(args.value(2), args.value(3).toInt());
    if (args.size() > 5) Logger::init(args.value(4), args.value(5).toInt());
    LOG(INFO) << "info message";
    LOG(WARNING) << "warning message";
    LOG(ERROR) << "error message";
    return 0;
}

int runGuard(const QStringList& args) {
    const QString key = args.value(2);
    const QString mode = args.value(3);
    if (mode == "twice") {
        bool first = false;
        {
            SingletonProgram guard(key);
            first = guard.isRunning();
        }
        SingletonProgram again(key);
        std::cout << (first ? "busy" : "taken") << ' ' << (again.isRunning() ? "busy" : "taken")
                  << std::endl;
        return 0;
    }
    SingletonProgram guard(key);
    if (mode == "keep") {
        // Nothing printed: whoever started it may have stopped reading. A test
        // that polls the key holds it for a moment itself: taken as soon as it
        // is free, within the time given.
        const qint64 keepMs = args.value(4).toLongLong();
        QElapsedTimer kept;
        kept.start();
        while (guard.isRunning() && kept.elapsed() < keepMs) QThread::msleep(10);
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, keepMs - kept.elapsed())));
        return 0;
    }
    std::cout << (guard.isRunning() ? "busy" : "taken") << std::endl;
    if (mode == "once") return 0;
    std::string line;
    if (mode == "release") {
        guard.release();
        std::cout << "released" << std::endl;
        if (std::getline(std::cin, line)) {
            std::cout << (guard.isRunning() ? "busy" : "taken") << std::endl;
        }
    }
    if (mode == "spawn") {
        qint64 pid = 0;
        QProcess::startDetached(args.value(4), args.mid(5), QString(), &pid);
        std::cout << pid << std::endl;
        return 0;
    }
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

int runCommand(const QStringList& args) {
    const QByteArray out = Utils::runSimpleCommand(args.value(2), args.mid(3)).toUtf8();
    fwrite(out.constData(), 1, out.size(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == "log") return runLog(args);
    if (mode == "guard") return runGuard(args);
    if (mode == "run") return runCommand(args);
    if (mode == "sleep") {
        QThread::msleep(args.value(2).toULong());
        return 0;
    }
    std::cerr << "unknown mode\n";
    return 2;
}
