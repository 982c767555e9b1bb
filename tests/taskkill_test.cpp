// The taskkill stand-in (tools/taskkill) against real processes: copies of the
// start recorder under the names a case needs, natively or under Wine (see
// updater_target.h).

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "clock.h"
#include "updater_target.h"

namespace {

constexpr int kRunTimeoutMs = 60000;

using TestSupport::waitFor;

const UpdaterTarget& platform() { return UpdaterTarget::current(); }

class TaskkillTest : public ::testing::Test {
protected:
    // Starts a process whose executable is named `name`, running until ended.
    QProcess* startNamed(const QString& name) {
        const QString path = dir.path() + "/" + name;
        QFile::copy(platform().startRecorderBinary(), path);
        auto* process = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("START_RECORDER_HOLD_MS", "60000");
        process->setProcessEnvironment(env);
        platform().prepare(*process, path, {});
        process->start();
        process->waitForStarted();
        waitFor([&] { return !startsRecordedBy(path).isEmpty(); }, kRunTimeoutMs);
        processes.emplace_back(process);
        return process;
    }

    QByteArray taskkill(const QStringList& arguments, int* exitCode = nullptr) {
        QProcess process;
        platform().prepare(process, platform().taskkillBinary(), arguments);
        process.start();
        process.waitForFinished(kRunTimeoutMs);
        if (exitCode) *exitCode = process.exitCode();
        return process.readAllStandardOutput();
    }

    static bool ended(QProcess* process) { return process->waitForFinished(kRunTimeoutMs); }
    static bool running(QProcess* process) { return !process->waitForFinished(300); }

    void TearDown() override {
        for (auto& process : processes) {
            process->kill();
            process->waitForFinished();
        }
    }

    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(TaskkillTest, EndsProcessesByTheirFullExecutableNameIgnoringCase) {
    QProcess* tray = startNamed("PavluneSystemTrayIcon.exe");
    QProcess* other = startNamed("PavluneSystemTrayIconX.exe");
    int exitCode = -1;
    const QByteArray output = taskkill({"/F", "/IM", "pavlunesystemtrayicon.EXE"}, &exitCode);
    EXPECT_TRUE(ended(tray));
    // Ended forcibly (Windows' forced end leaves an exit code, not a signal).
    if (!platform().windows()) {
        EXPECT_EQ(tray->exitStatus(), QProcess::CrashExit);
    }
    EXPECT_TRUE(running(other));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(output.contains("SUCCESS")) << output.toStdString();
}

TEST_F(TaskkillTest, WildcardEndsEveryMatchAtOnce) {
    QProcess* first = startNamed("pvl_x.exe");
    QProcess* second = startNamed("pvl_x_helper.exe");
    QProcess* other = startNamed("xpvl_x.exe");
    taskkill({"/f", "/im", "pvl_x*"});
    EXPECT_TRUE(ended(first));
    EXPECT_TRUE(ended(second));
    EXPECT_TRUE(running(other));
}

TEST_F(TaskkillTest, SparesItselfAndItsParentAndReportsNoMatch) {
    if (platform().windows()) GTEST_SKIP() << "no shell program to copy under another name";
    // A copy of the tool run by a copy of the shell, under names no other
    // process on the machine has, so that the patterns can match only these two.
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(16);
    const QString tool = dir.path() + "/taskkill_" + tag;
    const QString parent = dir.path() + "/parent_" + tag;
    ASSERT_TRUE(QFile::copy(platform().taskkillBinary(), tool));
    ASSERT_TRUE(QFile::copy("/bin/sh", parent));
    const auto runFromParent = [&](const QString& pattern, QByteArray* output) {
        QProcess shell;
        // Not the shell's last command, so the shell stays the tool's parent.
        shell.start(parent, {"-c", "\"$0\" /f /im \"$1\"; exit $?", tool, pattern});
        if (!shell.waitForFinished(kRunTimeoutMs)) return -1;
        if (output) *output = shell.readAllStandardOutput();
        return shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : -1;
    };
    QByteArray output;
    EXPECT_EQ(runFromParent("*" + tag + "*", &output), 128);
    EXPECT_TRUE(output.contains("not found")) << output.toStdString();
    EXPECT_EQ(runFromParent("TASKKILL_" + tag, nullptr), 128);
    // "?" is no wildcard: it matches only itself.
    EXPECT_EQ(runFromParent("taskkill_" + tag.left(tag.size() - 1) + "?", nullptr), 128);
    EXPECT_EQ(runFromParent("parent_" + tag, nullptr), 128);
}

TEST_F(TaskkillTest, RejectsArgumentsItDoesNotKnow) {
    int exitCode = -1;
    taskkill({"/f"}, &exitCode);
    EXPECT_EQ(exitCode, 1);
    taskkill({"/pid", "1"}, &exitCode);
    EXPECT_EQ(exitCode, 1);
}

}  // namespace
