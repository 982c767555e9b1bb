// glog is configured once per process, so every case runs the set-up in a
// child process of its own, placed in a fresh application folder that is also
// its working directory, and reads the files and stderr it leaves.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform.h"

namespace {

struct ChildRun {
    QByteArray stderrText;
    int exitCode = -1;
};

class LoggerTest : public ::testing::Test {
protected:
    QTemporaryDir appDir;
    QString child;

    void SetUp() override {
        child = appDir.filePath(TestSupport::programFileName("logger child"));
        ASSERT_TRUE(QFile::copy(FOUNDATION_CHILD, child));
    }

    ChildRun run(const QStringList& args) {
        QProcess process;
        process.setWorkingDirectory(appDir.path());
        process.start(child, QStringList{"log"} + args);
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.readAllStandardError(), process.exitCode()};
    }

    QStringList logFiles() const {
        return QDir(appDir.filePath("log")).entryList({"*.LOG"}, QDir::Files, QDir::Name);
    }

    QByteArray logFile(const QString& prefix) const {
        const QStringList names = QDir(appDir.filePath("log")).entryList({prefix + "*.LOG"});
        if (names.size() != 1) return "<" + QByteArray::number(names.size()) + " files>";
        QFile file(appDir.filePath("log/" + names.first()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    // Message lines of a glog file: everything after the "] " of each line
    // that carries glog's line head.
    static QList<QByteArray> messages(const QByteArray& file) {
        QList<QByteArray> out;
        for (const QByteArray& line : file.split('\n')) {
            const int head = line.indexOf("] ");
            if (line.size() > 1 && QByteArray("IWEF").contains(line[0]) && head > 0 &&
                !line.startsWith("Log line format")) {
                out << line.mid(head + 2).chopped(line.endsWith('\r') ? 1 : 0);  // Windows: CR LF
            }
        }
        return out;
    }
};

TEST_F(LoggerTest, WritesOneFilePerSeverityWithTheVersionFirst) {
    const ChildRun result = run({"updater", "0"});
    ASSERT_EQ(result.exitCode, 0);

    const QStringList files = logFiles();
    ASSERT_EQ(files.size(), 3) << files.join(' ').toStdString();
    // Base name, glog's time stamp (yyyymmdd-hhmmss.pid), upper-case extension.
    const QRegularExpression pattern("^UPDATER_[IWE]_\\d{8}-\\d{6}\\.\\d+\\.LOG$");
    for (const QString& name : files)
        EXPECT_TRUE(pattern.match(name).hasMatch()) << name.toStdString();

    const QList<QByteArray> info = messages(logFile("UPDATER_I_"));
    ASSERT_EQ(info.size(), 4);
    EXPECT_EQ(info[0], "版本: 5.1.0.5");
    EXPECT_EQ(info[1], "info message");
    // Each severity's file also holds the more severe messages.
    EXPECT_EQ(messages(logFile("UPDATER_W_")),
              QList<QByteArray>({"warning message", "error message"}));
    EXPECT_EQ(messages(logFile("UPDATER_E_")), QList<QByteArray>({"error message"}));

    // The line head names this source file's base name and a line.
    EXPECT_TRUE(logFile("UPDATER_I_").contains(" logger.cpp:"));
}

TEST_F(LoggerTest, ThresholdDecidesWhatReachesStderr) {
    const ChildRun all = run({"a", "0"});
    EXPECT_TRUE(all.stderrText.contains("版本: 5.1.0.5"));
    EXPECT_TRUE(all.stderrText.contains("info message"));
    EXPECT_TRUE(all.stderrText.contains("error message"));

    const ChildRun errorsOnly = run({"b", "2"});
    EXPECT_FALSE(errorsOnly.stderrText.contains("info message"));
    EXPECT_FALSE(errorsOnly.stderrText.contains("warning message"));
    EXPECT_TRUE(errorsOnly.stderrText.contains("error message"));
}

TEST_F(LoggerTest, SecondCallChangesNothing) {
    const ChildRun result = run({"First", "2", "second", "0"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_FALSE(result.stderrText.contains("info message"));  // threshold 2 stays
    for (const QString& name : logFiles())
        EXPECT_TRUE(name.startsWith("FIRST_")) << name.toStdString();
    EXPECT_EQ(messages(logFile("FIRST_I_")).count("版本: 5.1.0.5"), 1);
}

TEST_F(LoggerTest, LogFolderIsCreatedUnderTheApplicationFolder) {
    ASSERT_FALSE(QFileInfo::exists(appDir.filePath("log")));
    run({"updater", "0"});
    EXPECT_TRUE(QFileInfo(appDir.filePath("log")).isDir());
}

}  // namespace
