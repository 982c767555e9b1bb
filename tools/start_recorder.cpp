// Stand-in for programs the updater starts but that cannot exist here (the
// client's tray program, an installer, a browser, "taskkill" in tests). Copied
// under the name it stands in for, it appends one line per start to
// "<own name>.record" beside its own executable: the start time in milliseconds
// since the epoch, the working directory and every argument, separated by tabs,
// in UTF-8. With the environment variable START_RECORDER_HOLD_MS set it then
// stays alive that long, as a running program would. With
// START_RECORDER_ENVIRONMENT set it first writes its environment, one variable
// a line, to "<own name>.environment". With START_RECORDER_TAKE_GUARD set to a
// key, it then asks for the single-instance guard of that key every 10 ms, as a
// client started at that moment would, for at most 60 s; once it has it, it
// writes "<own name>.guard": the time it got it, in milliseconds since the
// epoch, and the number of refusals before, separated by a tab. It keeps the
// guard until it ends.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QStringList>
#include <QThread>

#include "singleton_program.h"

namespace {

// False when the guard stayed taken, or its record could not be written.
bool takeGuard(SingletonProgram& guard) {
    constexpr int kPollMs = 10;
    constexpr int kGiveUpMs = 60000;
    QElapsedTimer waited;
    waited.start();
    int refusals = 0;
    while (guard.isRunning()) {
        if (waited.elapsed() > kGiveUpMs) return false;
        ++refusals;
        QThread::msleep(kPollMs);
    }
    const QByteArray line = QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\t' +
                            QByteArray::number(refusals) + '\n';
    // Renamed into place whole: the record is complete once it can be seen.
    QSaveFile file(QCoreApplication::applicationFilePath() + ".guard");
    return file.open(QIODevice::WriteOnly) && file.write(line) == line.size() && file.commit();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList fields{QString::number(QDateTime::currentMSecsSinceEpoch()), QDir::currentPath()};
    // Qt reads the wide command line on Windows, so every letter arrives intact.
    fields += QCoreApplication::arguments().mid(1);
    const QByteArray line = fields.join('\t').toUtf8() + '\n';

    // Written before the start is recorded, so that it is complete once the
    // record shows the start.
    if (qEnvironmentVariableIsSet("START_RECORDER_ENVIRONMENT")) {
        const QByteArray variables =
            QProcessEnvironment::systemEnvironment().toStringList().join('\n').toUtf8() + '\n';
        QFile file(QCoreApplication::applicationFilePath() + ".environment");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(variables) != variables.size() || !file.flush()) {
            return 1;
        }
    }

    // One write to a file opened for appending, so that concurrent starts never
    // interleave within a line.
    QFile record(QCoreApplication::applicationFilePath() + ".record");
    const bool recorded = record.open(QIODevice::WriteOnly | QIODevice::Append) &&
                          record.write(line) == line.size() && record.flush();
    record.close();

    const QString guardKey = qEnvironmentVariable("START_RECORDER_TAKE_GUARD");
    SingletonProgram guard(guardKey);
    if (!guardKey.isEmpty() && !takeGuard(guard)) return 1;

    const QByteArray hold = qgetenv("START_RECORDER_HOLD_MS");
    if (!hold.isEmpty()) QThread::msleep(hold.toULong());
    return recorded ? 0 : 1;
}
