// The guard is machine-wide and lives as long as its holder, so every case
// drives real child processes.
#include <QElapsedTimer>
#include <QProcess>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

#include "singleton_program.h"

namespace {

QString uniqueKey() { return "Pavlune test " + QUuid::createUuid().toString() + ".exe"; }

// The next line a child prints; empty when none comes.
QByteArray nextLine(QProcess& process) {
    while (!process.canReadLine() && process.waitForReadyRead(5000)) {
    }
    return process.readLine().trimmed();
}

// Starts a child that takes the guard and keeps it until its stdin closes
// ("hold"), or gives it up at once and lives on ("release").
std::unique_ptr<QProcess> startHolder(const QString& key, QByteArray& answer,
                                      const QString& mode = "hold") {
    auto process = std::make_unique<QProcess>();
    process->start(FOUNDATION_CHILD, {"guard", key, mode});
    if (!process->waitForStarted(5000)) return process;
    answer = nextLine(*process);
    return process;
}

QByteArray runGuardChild(const QString& key, const QString& mode, const QStringList& extra) {
    QProcess process;
    process.start(FOUNDATION_CHILD, QStringList{"guard", key, mode} + extra);
    process.waitForFinished(10000);
    return process.readAllStandardOutput().trimmed();
}

// "taken" or "busy": what a short-lived second process sees.
QByteArray guardOnce(const QString& key) { return runGuardChild(key, "once", {}); }

TEST(SingletonProgram, SecondProcessSeesTheGuardWhileTheFirstLives) {
    const QString key = uniqueKey();
    QByteArray answer;
    auto holder = startHolder(key, answer);
    ASSERT_EQ(answer, "taken");
    EXPECT_EQ(guardOnce(key), "busy");
    EXPECT_EQ(guardOnce("another " + key), "taken");

    holder->closeWriteChannel();  // normal exit
    ASSERT_TRUE(holder->waitForFinished(5000));
    EXPECT_EQ(guardOnce(key), "taken");
}

TEST(SingletonProgram, FreedWhenTheHolderIsKilled) {
    const QString key = uniqueKey();
    QByteArray answer;
    auto holder = startHolder(key, answer);
    ASSERT_EQ(answer, "taken");
    holder->kill();
    ASSERT_TRUE(holder->waitForFinished(5000));
    EXPECT_EQ(guardOnce(key), "taken");
}

TEST(SingletonProgram, ProgramsStartedByTheHolderDoNotKeepIt) {
    const QString key = uniqueKey();
    // The holder starts a long-lived program and exits; that program must not
    // have inherited the guard. It shows that it still runs by holding a guard
    // of its own, and ends by itself; a loaded machine may take seconds to
    // start it.
    const QString sleeperKey = "sleeper " + key;
    const QList<QByteArray> lines =
        runGuardChild(key, "spawn", {FOUNDATION_CHILD, "guard", sleeperKey, "keep", "20000"})
            .split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].trimmed(), "taken");  // Windows ends the line with CR LF
    ASSERT_GT(lines[1].trimmed().toLongLong(), 0);
    bool sleeperRuns = false;
    QElapsedTimer waited;
    waited.start();
    while (!sleeperRuns && waited.elapsed() < 15000) sleeperRuns = guardOnce(sleeperKey) == "busy";
    ASSERT_TRUE(sleeperRuns) << "the started program should still run";
    EXPECT_EQ(guardOnce(key), "taken");
}

TEST(SingletonProgram, ReleasedGuardIsFreeWhileItsHolderLivesAndCanBeTakenAgain) {
    const QString key = uniqueKey();
    QByteArray answer;
    auto holder = startHolder(key, answer, "release");
    ASSERT_EQ(answer, "taken");
    ASSERT_EQ(nextLine(*holder), "released");
    EXPECT_EQ(guardOnce(key), "taken");
    EXPECT_EQ(holder->state(), QProcess::Running) << "the free guard must not come from its end";

    holder->write("again\n");  // the same object takes it once more
    EXPECT_EQ(nextLine(*holder), "taken");
    EXPECT_EQ(guardOnce(key), "busy");
    holder->closeWriteChannel();
    ASSERT_TRUE(holder->waitForFinished(5000));
}

TEST(SingletonProgram, ReleaseWithoutTheGuardLeavesTheHoldersGuardTaken) {
    const QString key = uniqueKey();
    QByteArray answer;
    auto holder = startHolder(key, answer);
    ASSERT_EQ(answer, "taken");
    auto refused = startHolder(key, answer, "release");
    ASSERT_EQ(answer, "busy");
    ASSERT_EQ(nextLine(*refused), "released");
    EXPECT_EQ(guardOnce(key), "busy");
    refused->write("again\n");
    EXPECT_EQ(nextLine(*refused), "busy");
    refused->closeWriteChannel();
    holder->closeWriteChannel();
    ASSERT_TRUE(refused->waitForFinished(5000));
    ASSERT_TRUE(holder->waitForFinished(5000));
}

TEST(SingletonProgram, SecondCallInOneProcessAnswersTakenAlreadyEvenAfterDestruction) {
    EXPECT_EQ(runGuardChild(uniqueKey(), "twice", {}), "taken busy");
}

TEST(SingletonProgram, LongKeysWork) {
    const QString key = uniqueKey() + QString(200, QChar(0x00E9));
    QByteArray answer;
    auto holder = startHolder(key, answer);
    ASSERT_EQ(answer, "taken");
    EXPECT_EQ(guardOnce(key), "busy");
    holder->closeWriteChannel();
    holder->waitForFinished(5000);
}

}  // namespace
