// Zipper against the real 7-Zip (SEVEN_ZIP: "7zz", or the Windows build's
// 7-Zip) and, for outputs the real tool cannot produce, against the scripted
// tool placed as the tool, which records its arguments and working directory
// and prints what a case's plan asks for.
//
// The runner finds its tool under the application folder, which Qt takes from
// the running executable: the program runs from a folder of its own (see
// support/app_folder.h).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "log_capture.h"
#include "platform.h"
#include "zipper.h"

namespace {

using TestSupport::LogCapture;
using TestSupport::readFile;
using TestSupport::writeFile;
using LogLine = LogCapture::Line;

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// Damages a stored entry by inverting 16 bytes of its content inside the archive.
void damageEntry(const QString& archive, const QByteArray& content) {
    QByteArray bytes = readFile(archive);
    const int at = bytes.indexOf(content.mid(1000, 32));
    ASSERT_GE(at, 0);
    for (int i = 0; i < 16; ++i) bytes[at + i] = static_cast<char>(~bytes[at + i]);
    writeFile(archive, bytes);
}

class ZipperTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid());
        QDir().mkpath(QFileInfo(toolPath).absolutePath());
        removeTool();
    }
    void TearDown() override { removeTool(); }

    void removeTool() {
        for (const char* suffix : {"", ".plan", ".calls"}) {
            QFile::remove(toolPath + suffix);
        }
    }

    void useRealTool() {
        ASSERT_TRUE(QFileInfo(SEVEN_ZIP).isExecutable())
            << SEVEN_ZIP << " is missing (Debian package 7zip)";
        ASSERT_TRUE(QFile::copy(SEVEN_ZIP, toolPath));
    }

    // Installs the real tool behind the scripted tool, which hands on its output
    // with the percentages spread evenly over `seconds`.
    void usePacedRealTool(int seconds) {
        ASSERT_TRUE(QFileInfo(SEVEN_ZIP).isExecutable()) << SEVEN_ZIP << " is missing";
        useFakeTool(QString("pace %1 %2").arg(seconds).arg(SEVEN_ZIP));
    }

    // Places the scripted tool as the tool, following `plan` (see
    // scripted_tool.cpp); a later plan replaces the earlier one.
    void useFakeTool(const QString& plan) {
        if (!QFileInfo::exists(toolPath)) {
            ASSERT_TRUE(QFile::copy(SCRIPTED_TOOL, toolPath));
        }
        writeFile(toolPath + ".plan", plan.toUtf8());
    }

    // Each call as its working directory followed by its arguments.
    std::vector<QStringList> calls() {
        std::vector<QStringList> result;
        const QString log = toolPath + ".calls";
        if (!QFile::exists(log)) return result;
        for (const QString& line : QString::fromUtf8(readFile(log)).split('\n')) {
            if (!line.isEmpty()) result.push_back(line.split(QChar(037)));
        }
        return result;
    }

    QString path(const QString& name) const { return work.path() + "/" + name; }

    QTemporaryDir work;
    const QString toolPath = TestSupport::appPath("7z/pvl_7z.exe");
    LogCapture logs;
};

// --- With the real tool ---

TEST_F(ZipperTest, PacksAndExtractsTreeWithOddNamesByteForByte) {
    useRealTool();
    const QString source = path("source tree");
    writeFile(source + "/top.txt", "top\n");
    writeFile(source + "/empty", "");
    writeFile(source + "/sub folder/Übergröße ñ 文件.txt", "non-ASCII name\n");
    writeFile(source + "/sub folder/deeper/level/random.bin", randomBytes(3 << 20));
    QDir().mkpath(source + "/empty folder");
    const QString archive = path("out ü/pkg.zip");
    QDir().mkpath(path("out ü"));

    Zipper packer(archive, source, "zip");
    ASSERT_TRUE(packer.compress()) << packer.getErrorMessage();
    const QString dest = path("dest ö x");
    Zipper extractor(archive, dest, "zip");
    ASSERT_TRUE(extractor.uncompress()) << extractor.getErrorMessage();

    EXPECT_EQ(TestSupport::readTree(dest + "/source tree"), TestSupport::readTree(source));
    EXPECT_TRUE(QFileInfo(dest + "/source tree/empty folder").isDir());
    const std::string command =
        (toolPath + " -sccUTF-8 -bsp1 x " + archive + " -o" + dest + " -aoa").toStdString();
    const std::vector<LogLine> lines = logs.take();
    EXPECT_EQ(lines.front(), (LogLine{0, "删除目标压缩包 " + archive.toStdString() + " 0"}));
    EXPECT_EQ(lines.at(lines.size() - 3), (LogLine{0, command}));
    EXPECT_EQ(lines.at(lines.size() - 2).message.rfind(command + "\n", 0), 0u);
    EXPECT_NE(lines.at(lines.size() - 2).message.find("Everything is Ok"), std::string::npos);
    EXPECT_EQ(lines.back(), (LogLine{0, "取消压缩包校验"}));

    ASSERT_TRUE(packer.compress());
    EXPECT_EQ(logs.take().front(), (LogLine{0, "删除目标压缩包 " + archive.toStdString() + " 1"}));
}

TEST_F(ZipperTest, RepairReplacesEveryDamagedEntryFromDisk) {
    useRealTool();
    const QByteArray first = randomBytes(1 << 20);
    const QByteArray second = randomBytes(1 << 20);
    writeFile(path("src/a.bin"), first);
    writeFile(path("src/sub/b c.bin"), second);
    writeFile(path("src/fine.bin"), randomBytes(1 << 20));
    const QString archive = path("pkg.zip");
    Zipper zipper(archive, path("src"), "zip");
    ASSERT_TRUE(zipper.compress()) << zipper.getErrorMessage();
    ASSERT_TRUE(zipper.testZip());

    damageEntry(archive, first);
    damageEntry(archive, second);
    logs.take();
    EXPECT_FALSE(zipper.testZip());
    EXPECT_EQ(zipper.getErrorMessage(), "Sub items Errors: 2");

    logs.take();
    zipper.repairZip();
    // The tool names entries with the system's separator.
    const std::string firstName = QDir::toNativeSeparators("src/a.bin").toStdString();
    const std::string secondName = QDir::toNativeSeparators("src/sub/b c.bin").toStdString();
    const std::string command = (toolPath + " -sccUTF-8 u -ux2z2 -spd " + archive).toStdString() +
                                " " + firstName + " " + secondName;
    const std::vector<LogLine> lines = logs.take();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], (LogLine{0, "Zip Has Error"}));
    EXPECT_EQ(lines[1], (LogLine{0, "repairZip: errFile: " + firstName}));
    EXPECT_EQ(lines[2], (LogLine{0, "repairZip: errFile: " + secondName}));
    EXPECT_EQ(lines[3], (LogLine{0, command}));
    EXPECT_EQ(lines[4].message.rfind(command + "\n", 0), 0u);
    EXPECT_TRUE(zipper.testZip()) << "the update found the files below the archive's folder";
}

TEST_F(ZipperTest, RepairTakesWildcardCharactersInNamesLiterally) {
    if (TestSupport::onWindows()) GTEST_SKIP() << "Windows file names hold no * or ?";
    useRealTool();
    const QByteArray damaged = randomBytes(1 << 20);
    writeFile(path("src/a*.bin"), damaged);
    writeFile(path("src/b?.bin"), randomBytes(1 << 20));
    const QString archive = path("pkg.zip");
    Zipper zipper(archive, path("src"), "zip");
    ASSERT_TRUE(zipper.compress()) << zipper.getErrorMessage();
    // Files that the names would match as wildcards, never packed.
    writeFile(path("src/a-private.bin"), "private");
    writeFile(path("src/bx.bin"), "private");

    damageEntry(archive, damaged);
    EXPECT_FALSE(zipper.testZip());
    zipper.repairZip();
    EXPECT_TRUE(zipper.testZip()) << zipper.getErrorMessage();
    QProcess list;
    list.start(SEVEN_ZIP, {"l", "-ba", "-sccUTF-8", archive});
    ASSERT_TRUE(list.waitForFinished(30000));
    const QString listing = QString::fromUtf8(list.readAllStandardOutput());
    EXPECT_TRUE(listing.contains("src/a*.bin")) << qPrintable(listing);
    EXPECT_FALSE(listing.contains("a-private.bin")) << qPrintable(listing);
    EXPECT_FALSE(listing.contains("bx.bin")) << qPrintable(listing);
}

TEST_F(ZipperTest, EncryptedArchiveFailsInsteadOfWaitingForPassword) {
    useRealTool();
    writeFile(path("secret.txt"), "secret\n");
    const QString archive = path("enc.zip");
    QProcess packer;
    packer.start(SEVEN_ZIP, {"a", "-tzip", "-pSecret", archive, path("secret.txt")});
    ASSERT_TRUE(packer.waitForFinished(-1));
    ASSERT_EQ(packer.exitCode(), 0);

    Zipper zipper(archive, path("out"), "zip");
    std::promise<void> done;
    auto watchdog = std::async(std::launch::async, [&zipper, finished = done.get_future()] {
        if (finished.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return false;
        zipper.kill();
        return true;
    });
    EXPECT_FALSE(zipper.uncompress());
    done.set_value();
    EXPECT_FALSE(watchdog.get()) << "the extraction waited for a password";
}

TEST_F(ZipperTest, RealProgressStaysBelow100AndTwoSecondsApart) {
    // The real tool's progress, spread over three seconds per run whatever the
    // machine's speed.
    usePacedRealTool(3);
    writeFile(path("big/random.bin"), randomBytes(16 << 20));
    // Report times in milliseconds, per Zipper: each one throttles on its own.
    std::vector<std::pair<int, qint64>> packing, extracting;
    Zipper packer(path("big.zip"), path("big"), "zip");
    packer.setProgressCallback(
        [&](int value) { packing.emplace_back(value, QDateTime::currentMSecsSinceEpoch()); });
    ASSERT_TRUE(packer.compress()) << packer.getErrorMessage();
    Zipper extractor(path("big.zip"), path("out"), "zip");
    extractor.setProgressCallback(
        [&](int value) { extracting.emplace_back(value, QDateTime::currentMSecsSinceEpoch()); });
    ASSERT_TRUE(extractor.uncompress());

    EXPECT_GE(packing.size(), 2u) << "packing reports over three seconds";
    EXPECT_GE(extracting.size(), 1u);
    for (const auto* reports : {&packing, &extracting}) {
        for (size_t i = 0; i < reports->size(); ++i) {
            EXPECT_GE(reports->at(i).first, 0);
            EXPECT_LE(reports->at(i).first, 99);
            // Two whole-second ticks apart means more than one second apart.
            if (i > 0) {
                EXPECT_GT(reports->at(i).second - reports->at(i - 1).second, 1000);
            }
        }
    }
}

// --- With the scripted tool, printing what the real tool cannot ---

struct OutcomeCase {
    const char* name;
    QString printed;  // standard output, escaped as in a plan
    int exitCode;
    bool succeeds;
    std::string errorMessage;
};
void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }
class ZipperOutcomeTest : public ZipperTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(ZipperOutcomeTest, FollowsSuccessTextThenExitCodeThenLastLine) {
    useFakeTool(QString("out %1\nexit %2").arg(GetParam().printed).arg(GetParam().exitCode));
    Zipper zipper(path("a.zip"), path("out"), "zip");
    EXPECT_EQ(zipper.testZip(), GetParam().succeeds);
    EXPECT_EQ(zipper.getErrorMessage(), GetParam().errorMessage);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ZipperOutcomeTest,
    ::testing::Values(
        OutcomeCase{"OkWithExitCode2", "\\nTesting\\nEverything is Ok\\n", 2, true, ""},
        OutcomeCase{"ExitCode0WithoutOk", "\\nsomething\\n", 0, true, ""},
        OutcomeCase{"OkIsCaseSensitive", "\\nx\\neverything is ok\\n", 2, false,
                    "everything is ok"},
        OutcomeCase{"LastLineWithTextTrimmed", "banner\\r\\nsecond line \\t\\r\\n \\r\\n\\r\\n", 2,
                    false, "second line"},
        OutcomeCase{"BareCarriageReturns", "banner\\rcause\\r  \\r", 1, false, "cause"},
        OutcomeCase{"LineFeeds", "\\n7-Zip\\nERROR: 文件错误 \\n\\n", 2, false, "ERROR: 文件错误"},
        OutcomeCase{"FirstLineNeverChosen", "only text\\n  \\n", 2, false, ""},
        OutcomeCase{"NoLineEnd", "only text", 2, false, ""},
        OutcomeCase{"CutAtNul", "\\nhead\\nbefore\\000after\\n", 7, false, "before"}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

TEST_F(ZipperTest, FailureTextSurvivesSuccessesAndTextlessFailures) {
    useFakeTool("t:out \\nfirst cause\\n\nt:exit 2\nout no line end\nexit 2");
    Zipper zipper(path("a.zip"), path("out"), "zip");
    EXPECT_FALSE(zipper.testZip());
    EXPECT_FALSE(zipper.uncompress());
    EXPECT_EQ(zipper.getErrorMessage(), "first cause");
    useFakeTool("out \\nEverything is Ok\\n");
    EXPECT_TRUE(zipper.testZip());
    EXPECT_EQ(zipper.getErrorMessage(), "first cause");
}

struct ProgressCase {
    const char* name;
    QString plan;
    std::vector<int> reports;
};
void PrintTo(const ProgressCase& c, std::ostream* os) { *os << c.name; }
class ZipperProgressTest : public ZipperTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ZipperProgressTest, ReportsFirstPercentageOfChunkAtMostEveryTwoSeconds) {
    useFakeTool(GetParam().plan + "\nout \\nEverything is Ok\\n");
    Zipper zipper(path("a.zip"), path("out"), "zip");
    std::vector<int> reports;
    zipper.setProgressCallback([&](int value) { reports.push_back(value); });
    EXPECT_TRUE(zipper.uncompress());
    EXPECT_EQ(reports, GetParam().reports);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ZipperProgressTest,
    ::testing::Values(ProgressCase{"FirstOfChunk", "out   7% 12%", {7}},
                      ProgressCase{"Zero", "out 0%", {0}},
                      ProgressCase{"NinetyNine", "out  99%\\b\\b\\b\\b", {99}},
                      ProgressCase{"HundredNever", "out 100% 5%", {}},
                      ProgressCase{"LastThreeDigits", "out 1234%", {}},
                      ProgressCase{"StandardErrorIgnored", "err 12%", {}},
                      ProgressCase{"HalfSecondApart", "out 10%\nsleep 500\nout 20%", {10}},
                      ProgressCase{"TwoSecondsApart", "out 10%\nsleep 3000\nout 20%", {10, 20}}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

TEST_F(ZipperTest, CompressGivesUpAfterFiveFailedTestsAndRepairs) {
    useFakeTool(
        "t:err ERROR: CRC Failed : dir/x.bin\\nERROR: CRC Failed : dir/y z.bin\\r\\n\n"
        "t:out \\nTesting\\r\\nSub items Errors: 2\\r\\n\n"
        "t:exit 2\n"
        "out \\nEverything is Ok\\n");
    QDir().mkpath(path("archives"));
    const QString archive = path("archives/pkg.zip");
    Zipper zipper(archive, path("dir"), "zip");
    EXPECT_FALSE(zipper.compress());
    EXPECT_EQ(zipper.getErrorMessage(), "Sub items Errors: 2");

    const QString here = QDir::currentPath();
    std::vector<QStringList> expected{
        {here, "-sccUTF-8", "-r", "a", "-tzip", "-bsp1", archive, path("dir"), "-y"},
        {here, "-sccUTF-8", "t", archive}};
    for (int round = 0; round < 5; ++round) {
        expected.push_back({path("archives"), "-sccUTF-8", "u", "-ux2z2", "-spd", archive,
                            "dir/x.bin", "dir/y z.bin"});
        if (round < 4) expected.push_back({path("archives"), "-sccUTF-8", "t", archive});
    }
    EXPECT_EQ(calls(), expected);

    // The repair's working directory stays for later operations; the output
    // folder reaches the tool as one argument, blanks and all.
    Zipper extractor(archive, path("dest dir"), "zip");
    zipper.uncompress();
    EXPECT_EQ(calls().back(), (QStringList{path("archives"), "-sccUTF-8", "-bsp1", "x", archive,
                                           "-o" + path("dir"), "-aoa"}));
    extractor.uncompress();
    EXPECT_EQ(calls().back(), (QStringList{here, "-sccUTF-8", "-bsp1", "x", archive,
                                           "-o" + path("dest dir"), "-aoa"}));
}

TEST_F(ZipperTest, RepairCountsOnlyLinesStartingWithCrcFailed) {
    useFakeTool(
        "err ERROR: Data Error : a\\n ERROR: CRC Failed : b\\nERROR: CRC Failed b\\n\nexit 2");
    Zipper zipper(path("a.zip"), path("out"), "zip");
    EXPECT_FALSE(zipper.testZip());
    logs.take();
    zipper.repairZip();
    EXPECT_EQ(calls().size(), 1u);
    EXPECT_TRUE(logs.take().empty());
}

TEST_F(ZipperTest, RepairPassesSwitchLikeNamesAsNames) {
    useFakeTool("err ERROR: CRC Failed : -sdel\\nERROR: CRC Failed : @list\\n\nexit 2");
    Zipper zipper(path("a.zip"), path("out"), "zip");
    EXPECT_FALSE(zipper.testZip());
    zipper.repairZip();
    EXPECT_EQ(calls().back(), (QStringList{work.path(), "-sccUTF-8", "u", "-ux2z2", "-spd",
                                           path("a.zip"), "--", "-sdel", "@list"}));
}

TEST_F(ZipperTest, LogsCommandAndOutputOfEveryRun) {
    useFakeTool("out \\nTesting 档案\\nEverything is Ok\\n");
    Zipper zipper(path("a b.zip"), path("out"), "zip");
    EXPECT_TRUE(zipper.testZip());
    const std::string command = (toolPath + " -sccUTF-8 t " + path("a b.zip")).toStdString();
    // glog ends each line itself, in place of the output's last line feed.
    const std::vector<LogLine> expected{
        {0, command}, {0, command + "\n\nTesting 档案\nEverything is Ok"}, {0, "取消压缩包校验"}};
    EXPECT_EQ(logs.take(), expected);
}

TEST_F(ZipperTest, MissingToolFailsWithStartError) {
    QProcess reference;
    reference.start(toolPath, QStringList());
    ASSERT_FALSE(reference.waitForStarted(-1));
    const QString error = reference.errorString();

    Zipper zipper(path("a.zip"), path("out"), "zip");
    EXPECT_FALSE(zipper.compress());
    EXPECT_EQ(zipper.getErrorMessage(), ("拉起压缩程序失败 " + error).toStdString());
    const std::vector<LogLine> lines = logs.take();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], (LogLine{2, ("拉起7z.exe失败: 0 " + error).toStdString()}));
}

TEST_F(ZipperTest, KillWithNothingRunningLogsWarning) {
    Zipper zipper(path("a.zip"), path("out"), "zip");
    zipper.kill();
    EXPECT_EQ(logs.take(), (std::vector<LogLine>{{1, "杀掉压缩程序 " + toolPath.toStdString()}}));
}

TEST_F(ZipperTest, QuitNotificationKillsToolRunningInAnotherThread) {
    useFakeTool("out Everything is\nsleep 30000");
    bool result = true;
    // The notification reaches the Zipper only once it is whole: its
    // construction is handed over through `built`, not through the tool's start.
    std::atomic<bool> built{false};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        Zipper zipper(path("a.zip"), path("out"), "zip");
        built = true;
        result = zipper.uncompress();
    }));
    worker->start();
    for (int i = 0; i < 200 && (!built || calls().empty()); ++i) QThread::msleep(50);
    ASSERT_TRUE(built);
    ASSERT_EQ(calls().size(), 1u);
    QThread::msleep(200);
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
    ASSERT_TRUE(worker->wait(20000));
    EXPECT_FALSE(result);
    const std::vector<LogLine> lines = logs.take();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), LogLine{1, "杀掉压缩程序 " + toolPath.toStdString()}),
        lines.end());
    EXPECT_EQ(lines.back(), (LogLine{0, "取消压缩包校验"}));
}

}  // namespace
