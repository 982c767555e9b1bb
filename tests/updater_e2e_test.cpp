// The real updater binary, run as a child process in a fresh application
// folder with the real 7-Zip as "7z/pvl_7z.exe" and recording stand-ins for the
// tray program and "taskkill": the Linux program natively, or the Windows
// program under Wine (see updater_target.h).

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "clock.h"
#include "files.h"
#include "updater_target.h"

// Readable failure messages for Qt's strings.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.left(200).toStdString() << (bytes.size() > 200 ? "…" : "") << '"';
}

namespace {

constexpr int kRunTimeoutMs = 60000;
constexpr int kDetachedStartTimeoutMs = 20000;

using TestSupport::entryNames;
using TestSupport::merged;
using TestSupport::readFile;
using TestSupport::readTree;
using TestSupport::Tree;
using TestSupport::waitFor;
using TestSupport::writeFile;
using TestSupport::writeTree;

// `count` empty files spread over 100 folders below `root`, made quickly.
void writeEmptyFiles(const QString& root, int count) {
    constexpr int kFolders = 100;
    for (int d = 0; d < kFolders; ++d)
        ASSERT_TRUE(QDir().mkpath(QString("%1/d%2").arg(root).arg(d)));
    for (int i = 0; i < count; ++i) {
        QFile file(QString("%1/d%2/f%3").arg(root).arg(i % kFolders).arg(i));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << file.fileName().toStdString();
    }
}

QString md5Of(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

const UpdaterTarget& platform() { return UpdaterTarget::current(); }

void killProcessesOf(const QString& path) {
    for (qint64 pid : platform().processesRunning(path)) kill(static_cast<pid_t>(pid), SIGKILL);
}

struct UpdaterRun {
    int exitCode = -1;
    bool finished = false;
    qint64 startMsecs = 0;
    QByteArray standardError;
};

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(makeAppFolder("tmp")); }

    // Programs a worker started detached may still be on their way; none may
    // outlive the test or write into its folder while it is removed.
    void TearDown() override {
        if (!root.isValid()) return;
        waitFor([&] { return platform().processesRunning(root.path()).isEmpty(); },
                kDetachedStartTimeoutMs);
        killProcessesOf(root.path());
    }

    // The application folder holds a blank, Chinese and other non-ASCII letters,
    // as user names do.
    void makeAppFolder(const QString& tempName) {
        ASSERT_TRUE(root.isValid());
        app = root.path() + "/Pavlune 用户 ü";
        temp = root.path() + "/" + tempName;
        ASSERT_TRUE(QDir().mkpath(app + "/7z"));
        ASSERT_TRUE(QDir().mkpath(temp));
        // A copy, not a link: the updater finds its folder from its own executable.
        ASSERT_TRUE(QFile::copy(platform().updaterBinary(), updater()));
        const QString sevenZip = platform().sevenZipBinary();
        ASSERT_TRUE(QFileInfo::exists(sevenZip)) << "7zz is missing (Debian package 7zip)";
        ASSERT_TRUE(QFile::copy(sevenZip, app + "/7z/pvl_7z.exe"));
        ASSERT_TRUE(QFile::copy(platform().startRecorderBinary(), tray()));
        ASSERT_TRUE(QFile::copy(platform().startRecorderBinary(), taskkill()));
    }

    QString updater() const { return app + "/" + platform().updaterName(); }
    QString taskkill() const { return app + "/" + platform().taskkillName(); }
    QString tray() const { return app + "/PavluneSystemTrayIcon.exe"; }
    // A path of the test as the updater writes it in its log.
    static QString native(const QString& path) { return platform().nativePath(path); }
    QString update() const { return app + "/update"; }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A machine without any display.
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        platform().useTempFolder(temp, env);
        return env;
    }

    void start(QProcess& process, const QStringList& arguments,
               const QProcessEnvironment& env) const {
        platform().prepare(process, updater(), arguments);
        process.setWorkingDirectory(app);
        process.setProcessEnvironment(env);
        process.start();
    }

    UpdaterRun runUpdater(const QStringList& arguments) {
        return runUpdater(arguments, environment());
    }

    UpdaterRun runUpdater(const QStringList& arguments, const QProcessEnvironment& env) {
        awaitTrayOfLastRun();
        const int traysBefore = startsRecordedBy(tray()).size();
        const QStringList logsBefore = infoLogFiles();
        UpdaterRun run;
        run.startMsecs = QDateTime::currentMSecsSinceEpoch();
        QProcess process;
        start(process, arguments, env);
        run.finished = process.waitForFinished(kRunTimeoutMs);
        if (!run.finished) process.kill();
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.standardError = process.readAllStandardError();
        // A worker that got the guard starts the tray program, unless a full
        // installer took over.
        const QString last = logMessages().value(logMessages().size() - 1);
        const bool installerStarted = last.startsWith("启动程序 ") && last.endsWith(" 1");
        trayPending = run.finished && infoLogFiles() != logsBefore && !installerStarted;
        traysBeforeLastRun = traysBefore;
        return run;
    }

    // Under Wine the tray program that a worker started may still be loading
    // when the worker has ended, long after on a busy machine; the next worker
    // would find its file in use and rightly do nothing. It is waited for: its
    // start recorded, then its end.
    void awaitTrayOfLastRun() {
        if (!platform().windows() || !trayPending) return;
        trayPending = false;
        waitFor([&] { return startsRecordedBy(tray()).size() > traysBeforeLastRun; },
                kDetachedStartTimeoutMs);
        waitFor([&] { return platform().processesRunning(tray()).isEmpty(); },
                kDetachedStartTimeoutMs);
    }

    // A worker run that must end with 0.
    void runWorker(const QStringList& extra = {}) {
        const UpdaterRun run = runUpdater(QStringList{"runas"} + extra);
        ASSERT_TRUE(run.finished);
        ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    }

    // Oldest first. glog names them "UPDATER_I_<date>-<time>.<pid>.LOG": runs
    // within one second are told apart by the process number, as a number.
    QStringList infoLogFiles() const {
        QStringList files = QDir(app + "/log").entryList({"UPDATER_I_*.LOG"}, QDir::Files);
        const auto key = [](const QString& name) {
            const QStringList parts = name.split('.');
            return std::make_pair(parts.value(0), parts.value(1).toLongLong());
        };
        std::sort(files.begin(), files.end(),
                  [&](const QString& a, const QString& b) { return key(a) < key(b); });
        return files;
    }

    // The messages of the INFO log, glog's header and line heads cut off.
    QStringList logMessages() const {
        const QStringList files = infoLogFiles();
        if (files.isEmpty()) return {};
        QStringList messages;
        // Windows' text files end their lines in CR LF.
        QStringList lines =
            QString::fromUtf8(readFile(app + "/log/" + files.last())).remove('\r').split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // the final line feed
        for (const QString& line : lines) {
            const int head = line.indexOf("] ");
            if (line.size() > 1 && QString("IWEF").contains(line.at(0)) && line.at(1).isDigit() &&
                head > 0) {
                messages << line.mid(head + 2);
            } else if (!messages.isEmpty() && !line.startsWith("Log ") &&
                       !line.startsWith("Running ")) {
                messages.last() += "\n" + line;  // a message that holds line breaks
            }
        }
        return messages;
    }

    // Packs `tree` into a zip with the real 7-Zip and returns its bytes.
    QByteArray zipOf(const Tree& tree, const QStringList& extraSwitches = {}) {
        QTemporaryDir source;
        writeTree(source.path(), tree);
        const QString zip = source.path() + ".zip";
        QProcess sevenZip;
        sevenZip.setWorkingDirectory(source.path());
        sevenZip.start("7zz", QStringList{"a", "-tzip"} + extraSwitches + QStringList{zip, "."});
        sevenZip.waitForFinished(kRunTimeoutMs);
        const QByteArray bytes = readFile(zip);
        QFile::remove(zip);
        return bytes;
    }

    void stageHotUpdate(const QByteArray& package) {
        stageHotUpdate(package, md5Of(package).toUtf8());
    }
    void stageHotUpdate(const QByteArray& package, const QByteArray& sidecar) {
        writeFile(update() + "/pkg", package);
        writeFile(update() + "/dat", sidecar);
    }

    QString versionLine() const { return "版本: 5.1.0.5"; }

    // Waits for the worker's detached start of the tray program.
    QList<Start> trayStarts(int expected = 1) {
        waitFor([&] { return startsRecordedBy(tray()).size() >= expected; },
                kDetachedStartTimeoutMs);
        return startsRecordedBy(tray());
    }

    QTemporaryDir root;
    QString app;
    QString temp;
    bool trayPending = false;
    int traysBeforeLastRun = 0;
};

const Tree kVersion1 = {{"Pavlune.dll", "v1 main library"},
                        {"plugins/pvl_a.dll", "v1 plugin a"},
                        {"data/keep.txt", "untouched by the update"}};
const Tree kVersion2 = {{"Pavlune.dll", "v2 main library, longer than before"},
                        {"plugins/pvl_a.dll", "v2 plugin a"},
                        {"plugins/pvl_b.dll", "v2 new plugin b"},
                        {"字体/新.txt", "v2 non-ASCII names"}};

const QStringList kNotInstalled = {"updater", "7z/", "log/", "update/", "PavluneSystemTrayIcon.exe",
                                   "taskkill"};

// Enough small files that extraction and the moves take a while. Half the
// folders also hold a file of the user's, so they are merged file by file; the
// others are swapped whole.
Tree largeTree(const QByteArray& version, int files) {
    Tree tree;
    for (int i = 0; i < files; ++i) {
        tree[QString("bulk/d%1/f%2.bin").arg(i % 20).arg(i)] =
            version + QByteArray(1000 + (i * 37) % 3000, static_cast<char>('a' + i % 26));
    }
    return tree;
}

// --- Normal mode ---

TEST_F(UpdaterTest, NothingStagedLogsBothAbsencesAndStartsTheTray) {
    writeTree(app, kVersion1);
    runWorker();
    EXPECT_EQ(logMessages(),
              QStringList({versionLine(), "没有发现更新安装包", "没有发现热更新包"}));
    const QList<Start> starts = trayStarts();
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts.at(0).arguments, QStringList{"runas"});
    EXPECT_EQ(starts.at(0).workingDir, native(app));
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    EXPECT_TRUE(startsRecordedBy(taskkill()).isEmpty());
}

TEST_F(UpdaterTest, RunsWhereTheNamedDisplayCannotBeReached) {
    // A display variable left behind by a session that is gone, or a platform
    // named where no display is, must not make the GUI application object abort;
    // the tray program still gets the environment as the worker was given it.
    if (platform().windows()) GTEST_SKIP() << "Windows has no display variables";
    const QList<QPair<QString, QString>> settings = {{"DISPLAY", ":987"},
                                                     {"WAYLAND_DISPLAY", "wayland-987"},
                                                     {"QT_QPA_PLATFORM", "xcb"},
                                                     {"QT_QPA_PLATFORM", ""}};
    for (int i = 0; i < settings.size(); ++i) {
        const QString setting = settings.at(i).first + "=" + settings.at(i).second;
        QDir(app + "/log").removeRecursively();
        QProcessEnvironment env = environment();
        env.insert(settings.at(i).first, settings.at(i).second);
        env.insert("START_RECORDER_ENVIRONMENT", "1");
        const UpdaterRun run = runUpdater({"runas"}, env);
        ASSERT_TRUE(run.finished) << setting.toStdString();
        EXPECT_EQ(run.exitCode, 0) << setting.toStdString() << run.standardError.toStdString();
        EXPECT_EQ(logMessages(),
                  QStringList({versionLine(), "没有发现更新安装包", "没有发现热更新包"}))
            << setting.toStdString();
        ASSERT_EQ(trayStarts(i + 1).size(), i + 1) << setting.toStdString();
        const QStringList trayEnvironment =
            QString::fromUtf8(readFile(tray() + ".environment")).split('\n');
        EXPECT_TRUE(trayEnvironment.contains(setting)) << setting.toStdString();
        EXPECT_EQ(trayEnvironment.filter(QRegularExpression("^QT_QPA_PLATFORM=")).size(),
                  settings.at(i).first == "QT_QPA_PLATFORM" ? 1 : 0)
            << setting.toStdString();
    }
}

TEST_F(UpdaterTest, InUseGateCreatesNoTrayProgramFile) {
    QFile::remove(tray());
    runWorker();
    EXPECT_FALSE(QFileInfo::exists(tray()));
    EXPECT_EQ(logMessages(),
              QStringList({versionLine(), "没有发现更新安装包", "没有发现热更新包"}));
}

TEST_F(UpdaterTest, CorrectHotUpdateIsExtractedAndBothFilesRemoved) {
    writeTree(app, kVersion1);
    const QByteArray package = zipOf(kVersion2);
    stageHotUpdate(package);
    runWorker();

    EXPECT_EQ(readTree(app, kNotInstalled), merged(kVersion1, kVersion2));
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
    const QStringList log = logMessages();
    const QString md5 = md5Of(package);
    EXPECT_TRUE(log.contains("MD5验证结果 " + md5 + " " + md5 + " 1"));
    const int extracted = log.indexOf("解压缩更新包: 1");
    ASSERT_GE(extracted, 0) << log.join("\n").toStdString();
    EXPECT_EQ(log.mid(extracted),
              QStringList({"解压缩更新包: 1", "删除文件: " + native(update()) + "/pkg1",
                           "删除文件: " + native(update()) + "/dat1"}));
    EXPECT_EQ(trayStarts().size(), 1);
}

struct SidecarCase {
    const char* name;
    std::function<QByteArray(const QString& md5)> sidecar;
};

void PrintTo(const SidecarCase& c, std::ostream* out) { *out << c.name; }

class SidecarTest : public UpdaterTest, public ::testing::WithParamInterface<SidecarCase> {};

TEST_P(SidecarTest, MismatchLeavesEverythingInPlace) {
    writeTree(app, kVersion1);
    const QByteArray package = zipOf(kVersion2);
    const QString md5 = md5Of(package);
    const QByteArray sidecar = GetParam().sidecar(md5);
    stageHotUpdate(package, sidecar);
    runWorker();

    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    EXPECT_EQ(readFile(update() + "/pkg"), package);
    EXPECT_EQ(readFile(update() + "/dat"), sidecar);
    const QStringList log = logMessages();
    EXPECT_EQ(log.last(), "MD5验证结果 " + md5 + " " + QString::fromUtf8(sidecar) + " 0");
    EXPECT_EQ(trayStarts().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sidecars, SidecarTest,
    ::testing::Values(
        SidecarCase{"UpperCase", [](const QString& md5) { return md5.toUpper().toUtf8(); }},
        SidecarCase{"TrailingLineBreak", [](const QString& md5) { return md5.toUtf8() + "\n"; }},
        SidecarCase{"Empty", [](const QString&) { return QByteArray(); }}),
    [](const ::testing::TestParamInfo<SidecarCase>& info) { return info.param.name; });

TEST_F(UpdaterTest, SidecarOfTenMegabytesIsRefusedQuickly) {
    writeTree(app, kVersion1);
    const QByteArray package = zipOf(kVersion2);
    stageHotUpdate(package, QByteArray(10 * 1024 * 1024, 'f'));
    runWorker();
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    EXPECT_TRUE(QFileInfo::exists(update() + "/pkg"));
    EXPECT_EQ(QFileInfo(update() + "/dat").size(), 10 * 1024 * 1024);
    EXPECT_TRUE(logMessages().last().startsWith("MD5验证结果 " + md5Of(package) + " ffff"));
}

TEST_F(UpdaterTest, PackageThatIsAFolderIsNotDigested) {
    writeTree(app, kVersion1);
    ASSERT_TRUE(QDir().mkpath(update() + "/pkg"));
    writeFile(update() + "/dat", md5Of("").toUtf8());
    runWorker();
    EXPECT_EQ(logMessages().last(), "计算文件md5失败: " + native(update()) + "/pkg");
    EXPECT_TRUE(QFileInfo(update() + "/pkg").isDir());
    EXPECT_TRUE(QFileInfo::exists(update() + "/dat"));
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
}

// Packages the tool cannot extract, or not wholly: the installed files stay
// byte-identical and the package is removed all the same.
struct BrokenPackageCase {
    const char* name;
    std::function<QByteArray(UpdaterTest&)> package;
};

void PrintTo(const BrokenPackageCase& c, std::ostream* out) { *out << c.name; }

class BrokenPackageTest : public UpdaterTest,
                          public ::testing::WithParamInterface<BrokenPackageCase> {
public:
    // The test body's access to the fixture's protected packer.
    static QByteArray zip(UpdaterTest& test, const Tree& tree, const QStringList& switches) {
        return static_cast<BrokenPackageTest&>(test).zipOf(tree, switches);
    }
};

TEST_P(BrokenPackageTest, LeavesInstalledFilesIntactAndRemovesThePackage) {
    writeTree(app, kVersion1);
    stageHotUpdate(GetParam().package(*this));
    const UpdaterRun run = runUpdater({"runas"});
    ASSERT_TRUE(run.finished) << "the worker hangs";
    EXPECT_EQ(run.exitCode, 0);

    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    const QStringList log = logMessages();
    const int extracted = log.indexOf("解压缩更新包: 0");
    ASSERT_GE(extracted, 0) << log.join("\n").toStdString();
    EXPECT_EQ(log.mid(log.size() - 2), QStringList({"删除文件: " + native(update()) + "/pkg1",
                                                    "删除文件: " + native(update()) + "/dat1"}));
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
    EXPECT_EQ(trayStarts().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, BrokenPackageTest,
    ::testing::Values(
        BrokenPackageCase{"NotAnArchive",
                          [](UpdaterTest&) { return QByteArray("this is no zip archive"); }},
        BrokenPackageCase{"Encrypted",
                          [](UpdaterTest& test) {
                              return BrokenPackageTest::zip(test, kVersion2, {"-psecret"});
                          }},
        BrokenPackageCase{"OneDamagedEntry",
                          [](UpdaterTest& test) {
                              // Stored entries: flipping a byte of the last file's
                              // data breaks its CRC only.
                              Tree tree = kVersion2;
                              tree["zz_last.txt"] = QByteArray(4096, 'z');
                              QByteArray zip = BrokenPackageTest::zip(test, tree, {"-mx0"});
                              const int data = zip.lastIndexOf(QByteArray(64, 'z'));
                              if (data >= 0) zip[data + 10] = 'Y';
                              return zip;
                          }}),
    [](const ::testing::TestParamInfo<BrokenPackageCase>& info) { return info.param.name; });

TEST_F(UpdaterTest, MoveThatFailsPartWayRestoresEveryReplacedFile) {
    writeTree(app, kVersion1);
    // The update's last entry finds a folder in its place.
    Tree tree = kVersion2;
    tree["zz_last.txt"] = "cannot replace a folder";
    ASSERT_TRUE(QDir().mkpath(app + "/zz_last.txt/inside"));
    stageHotUpdate(zipOf(tree));
    runWorker();

    EXPECT_EQ(readTree(app, kNotInstalled + QStringList{"zz_last.txt"}), kVersion1);
    EXPECT_TRUE(QFileInfo(app + "/zz_last.txt/inside").isDir());
    EXPECT_TRUE(logMessages().contains("解压缩更新包: 0"));
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
}

// A virus scanner holds an installed file open for a moment: the worker waits
// for it rather than roll the update back; held past the bound, the update is
// rolled back in bounded time.
class HeldFileTest : public UpdaterTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HeldFileTest, IsWaitedForWithinABound) {
    if (!platform().windows()) GTEST_SKIP() << "an open file never holds up a rename here";
    const bool letGo = GetParam();
    writeTree(app, kVersion1);
    stageHotUpdate(zipOf(kVersion2));
    QProcess holder;
    platform().prepare(holder, platform().fileHolderBinary(),
                       {native(app + "/Pavlune.dll"), "60000"});
    holder.start();
    ASSERT_TRUE(holder.waitForReadyRead(kDetachedStartTimeoutMs))
        << "the file holder did not start";

    QElapsedTimer timer;
    timer.start();
    QProcess worker;
    start(worker, {"runas"}, environment());
    const QString waitLine = "文件被占用, 等待: " + native(app + "/Pavlune.dll");
    const auto waited = [&] { return !logMessages().filter(waitLine).isEmpty(); };
    EXPECT_TRUE(waitFor(waited, kRunTimeoutMs)) << logMessages().join("\n").toStdString();
    const qint64 waitSeenMs = timer.elapsed();
    if (letGo) holder.kill();
    ASSERT_TRUE(worker.waitForFinished(kRunTimeoutMs));
    holder.kill();
    holder.waitForFinished();
    const QStringList log = logMessages();
    EXPECT_EQ(log.filter(waitLine).size(), 1) << log.join("\n").toStdString();
    if (letGo) {
        EXPECT_TRUE(log.contains("解压缩更新包: 1")) << log.join("\n").toStdString();
        EXPECT_EQ(readTree(app, kNotInstalled), merged(kVersion1, kVersion2));
    } else {
        // 10 s of waiting, and a few seconds for the rest under a loaded machine.
        EXPECT_LT(timer.elapsed() - waitSeenMs, 20000);
        EXPECT_TRUE(log.contains("解压缩更新包: 0")) << log.join("\n").toStdString();
        EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    }
}

INSTANTIATE_TEST_SUITE_P(Holders, HeldFileTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "LetsGo" : "HoldsOn"; });

TEST_F(UpdaterTest, FilesPastTheOldPathLimitAreReplaced) {
    // Past 260 characters the Windows file functions take only the long path form.
    QString deep = "deep";
    while ((app + "/" + deep).size() < 300) deep += "/a folder with a long name 长";
    const Tree longer = {{deep + "/file.dll", "v1 deep"}, {"Pavlune.dll", "v1"}};
    const Tree package = {
        {deep + "/file.dll", "v2 deep"}, {deep + "/new.dll", "v2 new"}, {"Pavlune.dll", "v2"}};
    writeTree(app, longer);
    stageHotUpdate(zipOf(package));
    runWorker();
    EXPECT_TRUE(logMessages().contains("解压缩更新包: 1"))
        << logMessages().join("\n").toStdString();
    EXPECT_EQ(readTree(app, kNotInstalled), merged(longer, package));
}

TEST_F(UpdaterTest, ArchiveEntriesCannotEscapeTheApplicationFolder) {
    writeTree(app, kVersion1);
    // 7-Zip never writes such names itself; Python's zipfile stores them as given.
    const QString zip = root.path() + "/evil.zip";
    const QString script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    z.writestr('../../../escaped_relative.txt', 'x')\n"
        "    z.writestr('a/../../../../escaped_nested.txt', 'x')\n"
        "    z.writestr(sys.argv[2] + '/escaped_absolute.txt', 'x')\n"
        "    z.writestr('inside.txt', 'inside')\n";
    QProcess python;
    python.start("python3", {"-c", script, zip, root.path()});
    ASSERT_TRUE(python.waitForFinished(kRunTimeoutMs));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    stageHotUpdate(readFile(zip));
    QFile::remove(zip);
    runWorker();

    EXPECT_EQ(entryNames(root.path()), QStringList({QFileInfo(app).fileName(), "tmp"}));
    EXPECT_EQ(entryNames(temp).filter("escaped"), QStringList());
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
    for (const QString& file : readTree(app, kNotInstalled).keys()) {
        EXPECT_TRUE(kVersion1.contains(file) || file.contains("inside") || file.contains("escaped"))
            << file.toStdString();
    }
}

// The client's own files in "update", named like the worker's work folders in
// other letter cases or with more after the name.
const Tree kLookAlikes = {{"update/OBSOLETE_LIST.txt", "client list"},
                          {"update/obsolete-2/notes.txt", "client folder"},
                          {"update/Replaced.txt", "client text"},
                          {"update/Staging-old/a.txt", "client backup"}};

TEST_F(UpdaterTest, ClientFilesNamedLikeTheWorkFoldersSurviveEveryRun) {
    QStringList installedOrUpdate = kNotInstalled;
    installedOrUpdate.removeAll("update/");
    writeTree(app, merged(kVersion1, kLookAlikes));
    runWorker();
    EXPECT_EQ(logMessages(),
              QStringList({versionLine(), "没有发现更新安装包", "没有发现热更新包"}));
    EXPECT_EQ(readTree(app, installedOrUpdate), merged(kVersion1, kLookAlikes));

    const Tree package = merged(kVersion2, {{"update/Obsolete-notes.txt", "notes"}});
    stageHotUpdate(zipOf(package));
    runWorker();
    const QStringList log = logMessages();
    EXPECT_TRUE(log.contains("解压缩更新包: 1")) << log.join("\n").toStdString();
    EXPECT_TRUE(log.filter("恢复中断的热更新").isEmpty()) << log.join("\n").toStdString();
    EXPECT_EQ(readTree(app, installedOrUpdate), merged(merged(kVersion1, kLookAlikes), package));
}

TEST_F(UpdaterTest, ReplacedFilesLeftToDeleteAreDeletedWithoutARecovery) {
    // What an earlier finished update could not delete yet (a program that still
    // ran, on Windows) is no interrupted update.
    writeTree(app, kVersion1);
    writeTree(update(), {{"obsolete/1/Pavlune.dll", "v0 main library"},
                         {"obsolete/1/plugins/pvl_a.dll", "v0 plugin a"}});
    runWorker();
    EXPECT_EQ(logMessages(),
              QStringList({versionLine(), "没有发现更新安装包", "没有发现热更新包"}));
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
}

// Anyone may put a link where a work folder goes. What it points to lies
// outside the application folder: it stays whole, nothing is "recovered" from
// it, and the staged package is applied all the same.
class WorkFolderLinkTest : public UpdaterTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WorkFolderLinkTest, IsRemovedAsALinkAndNeverFollowed) {
    // Wine sees a link here as a Windows link, but its RemoveDirectoryW acts on
    // the folder the link points to, never on the link: the link stays, and the
    // worker then leaves the work folders, and so the hot update, alone.
    const bool removable = !platform().windows();
    const QString outside = root.path() + "/outside";
    const Tree foreign = {{"Pavlune.dll", "foreign library"},
                          {"plugins/pvl_a.dll", "foreign plugin"},
                          {"1/notes.txt", "foreign notes"}};
    writeTree(outside, foreign);
    writeTree(app, kVersion1);
    const QString link = update() + "/" + GetParam();
    ASSERT_TRUE(QDir().mkpath(update()));
    for (const bool staged : {false, true}) {
        SCOPED_TRACE(staged ? "package staged" : "nothing staged");
        if (!QFileInfo(link).isSymLink()) {
            ASSERT_TRUE(QFile::link(outside, link));
        }
        if (staged) stageHotUpdate(zipOf(kVersion2));
        runWorker();
        const QStringList log = logMessages();
        EXPECT_EQ(readTree(outside), foreign);
        EXPECT_TRUE(log.contains("工作文件夹是链接, 删除链接: " + native(link)))
            << log.join("\n").toStdString();
        EXPECT_EQ(QFileInfo(link).isSymLink(), !removable);
        EXPECT_TRUE(log.filter("恢复中断的热更新").isEmpty()) << log.join("\n").toStdString();
        const bool applied = staged && removable;
        EXPECT_EQ(readTree(app, kNotInstalled), applied ? merged(kVersion1, kVersion2) : kVersion1);
        EXPECT_EQ(log.contains("解压缩更新包: 1"), applied) << log.join("\n").toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Places, WorkFolderLinkTest,
                         ::testing::Values("staging", "replaced", "obsolete"));

// The update folder itself may be a link (a junction on Windows) to a folder
// elsewhere: it is removed as a link, and what it points to is neither recovered
// from, emptied nor applied.
TEST_F(UpdaterTest, UpdateFolderThatIsALinkIsRemovedAndNeverFollowed) {
    if (platform().windows()) GTEST_SKIP() << "Wine makes no junctions and acts on a link's target";
    const QString outside = root.path() + "/outside";
    const QByteArray package = zipOf(kVersion2);
    const Tree foreign = {{"replaced/Pavlune.dll", "foreign library"},
                          {"replaced/plugins/pvl_a.dll", "foreign plugin"},
                          {"obsolete/1/notes.txt", "foreign notes"},
                          {"staging/x.txt", "foreign staging"},
                          {"pkg", package},
                          {"dat", md5Of(package).toUtf8()}};
    writeTree(outside, foreign);
    writeTree(app, kVersion1);
    ASSERT_TRUE(QFile::link(outside, update()));
    runWorker();

    const QStringList log = logMessages();
    EXPECT_TRUE(log.contains("工作文件夹是链接, 删除链接: " + native(update())))
        << log.join("\n").toStdString();
    EXPECT_FALSE(QFileInfo(update()).isSymLink());
    EXPECT_EQ(readTree(outside), foreign);
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    EXPECT_TRUE(log.filter("恢复中断的热更新").isEmpty()) << log.join("\n").toStdString();
}

// Seen from outside, in the order the system was asked: the staged files reach
// the disk after the archive tool wrote them and before the first is renamed
// into the application folder; the renames reach it before the package or an
// old file is deleted. A power cut in between would otherwise leave renamed
// files that read as zeros, with nothing left to repair them from.
TEST_F(UpdaterTest, StagedFilesAndRenamesReachTheDiskBeforeTheyCount) {
    if (platform().windows()) GTEST_SKIP() << "traced natively with strace";
    const QString strace = QStandardPaths::findExecutable("strace");
    ASSERT_FALSE(strace.isEmpty()) << "strace is missing (Debian package strace)";
    const Tree version1 = merged(kVersion1, largeTree("v1", 40));
    const Tree version2 = merged(kVersion2, largeTree("v2", 40));
    writeTree(app, version1);
    stageHotUpdate(zipOf(version2));
    const QString tracePath = root.path() + "/trace.txt";
    QProcess traced;
    traced.setWorkingDirectory(app);
    // LeakSanitizer cannot work under ptrace: a sanitized build checks no leaks here.
    QProcessEnvironment env = environment();
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    traced.setProcessEnvironment(env);
    traced.start(strace, {"-f", "-qq", "-o", tracePath, "-e",
                          "trace=execve,syncfs,rename,renameat,renameat2,unlink,unlinkat,rmdir",
                          updater(), "runas"});
    ASSERT_TRUE(traced.waitForFinished(kRunTimeoutMs));
    ASSERT_EQ(traced.exitCode(), 0) << traced.readAllStandardError().toStdString();
    trayStarts();

    const QStringList trace = QString::fromUtf8(readFile(tracePath)).split('\n');
    const auto call = [](const QString& line) {
        return line.section(' ', 1).trimmed().section('(', 0, 0);
    };
    const auto isRename = [&](const QString& line) { return call(line).startsWith("rename"); };
    // The n-th quoted path of a traced call: a rename's source, then its target.
    const auto pathArgument = [](const QString& line, int n) {
        return line.section('"', 2 * n + 1, 2 * n + 1);
    };
    const auto indexOf = [&](const std::function<bool(const QString&)>& matches, bool last) {
        int found = -1;
        for (int i = 0; i < trace.size(); ++i) {
            if (!matches(trace.at(i))) continue;
            found = i;
            if (!last) break;
        }
        return found;
    };
    const auto syncedBetween = [&](int after, int before) {
        for (int i = after + 1; i < before; ++i) {
            if (call(trace.at(i)) == "syncfs" && trace.at(i).endsWith("= 0")) return true;
        }
        return false;
    };
    const QString sevenZipPid =
        trace.value(indexOf([](const QString& l) { return l.contains("/7z/pvl_7z.exe\""); }, false))
            .section(' ', 0, 0);
    ASSERT_FALSE(sevenZipPid.isEmpty()) << "the archive tool was not seen starting";
    const int extracted =
        indexOf([&](const QString& l) { return l.section(' ', 0, 0) == sevenZipPid; }, true);
    // A staged entry renamed to a place outside the update folder.
    const int firstRenameIn = indexOf(
        [&](const QString& l) {
            return isRename(l) && pathArgument(l, 0).contains("/update/staging/") &&
                   !pathArgument(l, 1).contains("/update/");
        },
        false);
    // Every rename but the discarding of what is left of the staging folder and
    // the claiming of old files to delete.
    const int lastRename = indexOf(
        [&](const QString& l) {
            return isRename(l) && !pathArgument(l, 0).endsWith("/update/staging") &&
                   !pathArgument(l, 0).contains("/update/obsolete/");
        },
        true);
    const int firstDelete = indexOf(
        [&](const QString& l) {
            return (call(l).startsWith("unlink") || call(l) == "rmdir") &&
                   (l.contains("/update/pkg\"") || l.contains("/update/obsolete/"));
        },
        false);
    ASSERT_GE(firstRenameIn, 0);
    ASSERT_GE(firstDelete, 0);
    EXPECT_LT(extracted, firstRenameIn);
    EXPECT_TRUE(syncedBetween(extracted, firstRenameIn)) << "staged files renamed in unflushed";
    EXPECT_LT(lastRename, firstDelete);
    EXPECT_TRUE(syncedBetween(lastRename, firstDelete))
        << "deleted before the renames were flushed";
    EXPECT_EQ(readTree(app, kNotInstalled), merged(version1, version2));
}

TEST_F(UpdaterTest, ClientStartedWithTheTrayProgramIsNotKeptOutWhileOldFilesAreDeleted) {
    // The tray stand-in asks for the client's guard from its start on, as the
    // client it may start at once would. Deleting the old files takes far longer
    // than starting the tray program: the guard is to be free while the worker
    // still deletes them, not only once it ends. Wine deletes far more slowly.
    writeTree(app, kVersion1);
    ASSERT_NO_FATAL_FAILURE(
        writeEmptyFiles(update() + "/obsolete/1", platform().windows() ? 10000 : 50000));
    QProcessEnvironment env = environment();
    env.insert("START_RECORDER_TAKE_GUARD", "Pavlune.exe");
    QProcess worker;
    start(worker, {"runas"}, env);
    ASSERT_TRUE(worker.waitForStarted());
    // The stand-in records "<time taken>\t<refusals>" once it has the guard.
    const QString guardRecord = tray() + ".guard";
    bool takenWhileDeleting = false;
    QElapsedTimer timer;
    timer.start();
    while (!worker.waitForFinished(10) && timer.elapsed() < kRunTimeoutMs) {
        if (!QFileInfo::exists(guardRecord)) continue;
        takenWhileDeleting =
            !entryNames(update()).isEmpty() && worker.state() != QProcess::NotRunning;
        break;
    }
    ASSERT_TRUE(worker.state() == QProcess::NotRunning || worker.waitForFinished(kRunTimeoutMs));
    EXPECT_EQ(worker.exitCode(), 0);
    waitFor([&] { return QFileInfo::exists(guardRecord); }, kDetachedStartTimeoutMs);
    EXPECT_TRUE(takenWhileDeleting)
        << "taken only after the worker ended: " << readFile(guardRecord).toStdString();
    EXPECT_EQ(logMessages(),
              QStringList({versionLine(), "没有发现更新安装包", "没有发现热更新包"}));
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
}

// --- Full installer ---

class FullInstallerTest : public UpdaterTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(makeAppFolder(GetParam())); }

    QString staged() const { return temp + "/pvl_update_install.exe"; }
    QString sidecar() const { return temp + "/pvl_update_install.dat"; }
    QString target() const { return temp + "/pvl_install.exe"; }

    // A downloaded installer: no execute permission.
    void stageInstaller(const QByteArray& program) {
        writeFile(staged(), program);
        QFile::setPermissions(staged(), QFile::ReadOwner | QFile::WriteOwner);
        writeFile(sidecar(), md5Of(program).toUtf8());
    }
};

TEST_P(FullInstallerTest, CorrectInstallerIsRenamedStartedAndEndsTheRun) {
    writeTree(app, kVersion1);
    const QByteArray installer = readFile(platform().startRecorderBinary());
    stageInstaller(installer);
    writeFile(target(), "an earlier installer");
    stageHotUpdate(zipOf(kVersion2));
    runWorker();

    const QString md5 = md5Of(installer);
    EXPECT_EQ(logMessages(), QStringList({versionLine(), "MD5验证结果 " + md5 + " " + md5 + " 1",
                                          "删除文件 " + native(target()) + " 1",
                                          "启动程序 " + native(target()) + " 1"}));
    ASSERT_TRUE(
        waitFor([&] { return !startsRecordedBy(target()).isEmpty(); }, kDetachedStartTimeoutMs));
    EXPECT_EQ(startsRecordedBy(target()).at(0).arguments, QStringList());
    EXPECT_EQ(readFile(target()), installer);
    EXPECT_FALSE(QFileInfo::exists(staged()));
    EXPECT_TRUE(QFileInfo::exists(sidecar()));
    // No hot update and no tray start after the installer took over.
    EXPECT_TRUE(QFileInfo::exists(update() + "/pkg"));
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    QThread::msleep(300);
    EXPECT_TRUE(startsRecordedBy(tray()).isEmpty());
}

TEST_P(FullInstallerTest, InstallerThatCannotStartIsFollowedByTheHotUpdate) {
    writeTree(app, kVersion1);
    stageInstaller("neither a program nor a script");
    stageHotUpdate(zipOf(kVersion2));
    runWorker();

    const QStringList log = logMessages();
    EXPECT_TRUE(log.contains("启动程序 " + native(target()) + " 0"))
        << log.join("\n").toStdString();
    EXPECT_TRUE(log.contains("解压缩更新包: 1"));
    EXPECT_EQ(readTree(app, kNotInstalled), merged(kVersion1, kVersion2));
    EXPECT_TRUE(QFileInfo::exists(target()));
    EXPECT_EQ(trayStarts().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(TempFolders, FullInstallerTest,
                         ::testing::Values("tmp", "temp with blanks"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return QString(info.param).contains(' ') ? std::string("WithBlank")
                                                                      : std::string("Plain");
                         });

// --- The tray program in use ---

TEST_F(UpdaterTest, RunningTrayProgramBlocksTheWholeCheck) {
    writeTree(app, kVersion1);
    stageHotUpdate(zipOf(kVersion2));
    const Tree before = readTree(app);
    QProcess running;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("START_RECORDER_HOLD_MS", "60000");
    running.setProcessEnvironment(env);
    platform().prepare(running, tray(), {});
    running.start();
    ASSERT_TRUE(running.waitForStarted());
    ASSERT_TRUE(waitFor([&] { return !startsRecordedBy(tray()).isEmpty(); }, kRunTimeoutMs));
    const Tree withRecord = readTree(app);

    runWorker();
    running.kill();
    running.waitForFinished();

    EXPECT_EQ(logMessages(), QStringList{versionLine()});
    Tree after = readTree(app, {"log/"});
    after.remove("PavluneSystemTrayIcon.exe.record");
    Tree expected = withRecord;
    expected.remove("PavluneSystemTrayIcon.exe.record");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(readTree(app, kNotInstalled), kVersion1);
    (void)before;
}

// --- Restart mode ---

TEST_F(UpdaterTest, RestartModePausesEndsTheProgramsInOrderAndRestartsTheTray) {
    writeTree(app, kVersion1);
    stageHotUpdate(zipOf(kVersion2));
    const UpdaterRun run = runUpdater({"runas", "restart"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);

    const QList<Start> kills = startsRecordedBy(taskkill());
    ASSERT_EQ(kills.size(), 2);
    EXPECT_EQ(kills.at(0).arguments, QStringList({"/f", "/im", "PavluneSystemTrayIcon.exe"}));
    EXPECT_EQ(kills.at(1).arguments, QStringList({"/f", "/im", "pvl_*"}));
    EXPECT_GE(kills.at(0).msecs - run.startMsecs, 1500);
    EXPECT_LE(kills.at(0).msecs, kills.at(1).msecs);
    EXPECT_EQ(readTree(app, kNotInstalled + QStringList{"taskkill"}), merged(kVersion1, kVersion2));

    const QList<Start> starts = trayStarts();
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts.at(0).arguments, QStringList({"runas", "restart"}));
    EXPECT_GE(starts.at(0).msecs, kills.at(1).msecs);
}

TEST_F(UpdaterTest, RestartModeEndsTheRunningTrayAndEveryCompanion) {
    // The taskkill stand-in that really ends processes, in place of the recorder.
    ASSERT_TRUE(QFile::remove(taskkill()));
    ASSERT_TRUE(QFile::copy(platform().taskkillBinary(), taskkill()));
    const QString companion = app + "/pvl_helper.exe";
    ASSERT_TRUE(QFile::copy(platform().startRecorderBinary(), companion));
    QProcessEnvironment hold = QProcessEnvironment::systemEnvironment();
    hold.insert("START_RECORDER_HOLD_MS", "60000");
    QProcess running[2];
    const QString programs[2] = {tray(), companion};
    for (int i = 0; i < 2; ++i) {
        running[i].setProcessEnvironment(hold);
        platform().prepare(running[i], programs[i], {});
        running[i].start();
        ASSERT_TRUE(
            waitFor([&] { return !startsRecordedBy(programs[i]).isEmpty(); }, kRunTimeoutMs));
    }

    runWorker({"restart"});
    EXPECT_TRUE(running[0].waitForFinished(kRunTimeoutMs)) << "the tray program runs on";
    EXPECT_TRUE(running[1].waitForFinished(kRunTimeoutMs)) << "the companion runs on";
    const QList<Start> starts = trayStarts(2);
    ASSERT_EQ(starts.size(), 2);
    EXPECT_EQ(starts.at(1).arguments, QStringList({"runas", "restart"}));
    EXPECT_TRUE(logMessages().contains("没有发现热更新包"));
}

TEST_F(UpdaterTest, RestartAnywhereButLastMeansNormalMode) {
    runWorker({"restart", "later"});
    EXPECT_TRUE(startsRecordedBy(taskkill()).isEmpty());
    const QList<Start> starts = trayStarts();
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts.at(0).arguments, QStringList{"runas"});
}

// --- The single-instance guard ---

TEST_F(UpdaterTest, SecondWorkerWhileTheFirstHoldsTheGuardEndsSilently) {
    // The first worker's "taskkill" runs for a while, so it holds the guard.
    QProcessEnvironment slow = environment();
    slow.insert("START_RECORDER_HOLD_MS", "4000");
    QProcess first;
    start(first, {"runas", "restart"}, slow);
    ASSERT_TRUE(waitFor([&] { return !startsRecordedBy(taskkill()).isEmpty(); }, kRunTimeoutMs));

    const UpdaterRun second = runUpdater({"runas"});
    EXPECT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_FALSE(second.standardError.contains("版本")) << second.standardError.toStdString();
    EXPECT_EQ(infoLogFiles().size(), 1);

    ASSERT_TRUE(first.waitForFinished(kRunTimeoutMs));
    EXPECT_EQ(first.exitCode(), 0);
    // Only the first worker started the tray program.
    const QList<Start> starts = trayStarts();
    EXPECT_EQ(starts.size(), 1);
}

TEST_F(UpdaterTest, GuardIsFreeAfterTheHolderWasKilledWhileItsChildRuns) {
    QProcessEnvironment slow = environment();
    slow.insert("START_RECORDER_HOLD_MS", "60000");
    QProcess first;
    start(first, {"runas", "restart"}, slow);
    ASSERT_TRUE(waitFor([&] { return !startsRecordedBy(taskkill()).isEmpty(); }, kRunTimeoutMs));
    kill(static_cast<pid_t>(first.processId()), SIGKILL);  // the worker only
    first.waitForFinished();
    // The worker is gone; the "taskkill" it started runs on.
    ASSERT_EQ(platform().processesRunning(taskkill()).size(), 1);

    const UpdaterRun second = runUpdater({"runas"});
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(logMessages().contains("没有发现热更新包"));
    EXPECT_EQ(trayStarts().size(), 1);
    killProcessesOf(taskkill());
}

// --- The launcher ---

TEST_F(UpdaterTest, LauncherRelaunchesTheProgramOfItsNameWithRunasAndItsArguments) {
    if (!platform().windows() && geteuid() != 0 &&
        !QStandardPaths::findExecutable("pkexec").isEmpty()) {
        GTEST_SKIP() << "the relaunch would ask for consent through pkexec";
    }
    if (platform().windows()) {
        // Windows looks in the program's own folder first: the launcher starts
        // itself. The worker's command line, read while it pauses in restart
        // mode, shows what it was given, every letter of element 0 included.
        // Started from a folder other than its own, with blanks and Chinese
        // letters: the worker and the tray program work there too, the worker
        // writing its log into the folder's "log".
        const QString caller = root.path() + "/调用 方 folder";
        ASSERT_TRUE(QDir().mkpath(caller + "/log"));
        QProcess launcher;
        launcher.setWorkingDirectory(caller);
        launcher.setProcessEnvironment(environment());
        platform().prepare(launcher, updater(), {"x y", "restart"});
        launcher.start();
        QString seen;
        ASSERT_TRUE(waitFor(
            [&] {
                for (qint64 pid : platform().processesRunning(updater())) {
                    const QString line = platform().commandLine(pid);
                    if (line.contains(" runas ")) seen = line;
                }
                return !seen.isEmpty();
            },
            kRunTimeoutMs));
        // Wine shows the Windows command line, at first behind its loader's name.
        const QString expected =
            "updater runas " + QString(native(updater())).replace('/', '\\') + " x y restart";
        EXPECT_TRUE(seen.endsWith(expected)) << seen.toStdString();
        EXPECT_TRUE(launcher.waitForFinished(kRunTimeoutMs));
        EXPECT_EQ(trayStarts().value(0).arguments, QStringList({"runas", "restart"}));
        EXPECT_EQ(trayStarts().value(0).workingDir, native(caller));
        EXPECT_EQ(QDir(caller + "/log").entryList({"UPDATER_I_*.LOG"}).size(), 1);
        return;
    }
    // The relaunch looks for "updater" in the working directory first: a recorder
    // there shows exactly what it is given, and where it works.
    const QString elsewhere = root.path() + "/别处 elsewhere";
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString relaunched = elsewhere + "/" + platform().updaterName();
    ASSERT_TRUE(QFile::copy(platform().startRecorderBinary(), relaunched));
    const QString element0 = native(updater());
    const QList<QStringList> cases = {{}, {"restart"}, {"Runas", "x y"}};
    for (const QStringList& arguments : cases) {
        QProcess launcher;
        launcher.setWorkingDirectory(elsewhere);
        launcher.setProcessEnvironment(environment());
        platform().prepare(launcher, updater(), arguments);
        launcher.start();
        ASSERT_TRUE(launcher.waitForFinished(kRunTimeoutMs));
        EXPECT_EQ(launcher.exitCode(), 0);
    }
    ASSERT_TRUE(
        waitFor([&] { return startsRecordedBy(relaunched).size() == 3; }, kDetachedStartTimeoutMs));
    QStringList seen;
    for (const Start& start : startsRecordedBy(relaunched)) {
        EXPECT_EQ(start.workingDir, native(elsewhere));
        seen << start.arguments.join(" ");
    }
    seen.sort();
    // Element 0 is passed unquoted: its blank splits it, as it would on Windows.
    QStringList expected = {"runas " + element0, "runas " + element0 + " restart",
                            "runas " + element0 + " Runas x y"};
    expected.sort();
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(QFileInfo::exists(app + "/log"));
}

TEST_F(UpdaterTest, LauncherStartsAWorkerThatDoesTheWholeJob) {
    if (!platform().windows() && geteuid() != 0 &&
        !QStandardPaths::findExecutable("pkexec").isEmpty()) {
        GTEST_SKIP() << "the relaunch would ask for consent through pkexec";
    }
    writeTree(app, kVersion1);
    stageHotUpdate(zipOf(kVersion2));
    const UpdaterRun run = runUpdater({});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    const QList<Start> starts = trayStarts();
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts.at(0).arguments, QStringList{"runas"});
    EXPECT_EQ(readTree(app, kNotInstalled), merged(kVersion1, kVersion2));
    // Both elevated starts work where the launcher was started: the worker's log
    // is in that folder's "log", and the tray program records it.
    EXPECT_TRUE(logMessages().contains("解压缩更新包: 1"));
    EXPECT_EQ(starts.at(0).workingDir, native(app));
}

// --- A worker killed part-way through a hot update ---

Tree userFiles() {
    Tree tree;
    for (int d = 0; d < 20; d += 2) tree[QString("bulk/d%1/user.cfg").arg(d)] = "user's own";
    return tree;
}

struct KillPoint {
    const char* name;
    std::function<bool(const QString& update)> reached;
};

void PrintTo(const KillPoint& point, std::ostream* out) { *out << point.name; }

class InterruptedUpdateTest : public UpdaterTest, public ::testing::WithParamInterface<KillPoint> {
protected:
    // Installs version 1, stages version 2 and runs a worker that is killed at
    // the kill point.
    void interruptAnUpdate() {
        writeTree(app, version1);
        stageHotUpdate(zipOf(version2));
        QProcess worker;
        start(worker, {"runas"}, environment());
        ASSERT_TRUE(worker.waitForStarted());
        // Polled every millisecond: some states last only a few.
        bool killed = false;
        QElapsedTimer timer;
        timer.start();
        while (!worker.waitForFinished(1) && timer.elapsed() < kRunTimeoutMs) {
            if (GetParam().reached(update())) {
                platform().killAbruptly(worker.processId(), app);
                killed = true;
                break;
            }
        }
        worker.waitForFinished();
        // Nothing of the killed run may still hold a file when the next one starts.
        // Under Wine a program started just before the kill (the tray program)
        // shows as a program of the folder only once loaded, and may then wait
        // for ever on the killed worker: it goes the same way, and none may be
        // seen for a while.
        const int quietMs = platform().windows() ? 1000 : 0;
        QElapsedTimer quiet;
        quiet.start();
        waitFor(
            [&] {
                const QList<qint64> left = platform().processesRunning(app);
                if (!left.isEmpty()) {
                    quiet.restart();
                    if (platform().windows()) {
                        for (qint64 pid : left) kill(static_cast<pid_t>(pid), SIGKILL);
                    }
                }
                return left.isEmpty() && quiet.elapsed() >= quietMs;
            },
            kRunTimeoutMs);
        std::cout << "[ killed at " << GetParam().name << ": "
                  << (killed ? "yes" : "finished first") << " ]" << std::endl;
    }

    const Tree version1 = merged(merged(kVersion1, largeTree("v1", 800)), userFiles());
    const Tree version2 = merged(kVersion2, largeTree("v2 and more", 800));
};

TEST_P(InterruptedUpdateTest, NextRunFinishesTheJob) {
    ASSERT_NO_FATAL_FAILURE(interruptAnUpdate());
    // Killed between the package's deletion and its sidecar's, the sidecar stays
    // until the client stages the next update over it.
    const bool loneSidecar =
        !QFileInfo::exists(update() + "/pkg") && QFileInfo::exists(update() + "/dat");

    runWorker();
    EXPECT_EQ(readTree(app, kNotInstalled), merged(version1, version2));
    QStringList left = entryNames(update());
    if (loneSidecar) left.removeAll("dat");
    EXPECT_TRUE(left.isEmpty()) << left.join(",").toStdString();
    // A recovery that worked says so and nothing more.
    for (const QString& message : logMessages().filter("恢复中断的热更新")) {
        EXPECT_EQ(message, "恢复中断的热更新: 1");
    }
}

TEST_P(InterruptedUpdateTest, FullInstallerStagedAfterwardsIsNotUndone) {
    ASSERT_NO_FATAL_FAILURE(interruptAnUpdate());

    // The client then stages a full installer.
    const QString installer = temp + "/pvl_update_install.exe";
    const QByteArray program = readFile(platform().startRecorderBinary());
    writeFile(installer, program);
    writeFile(temp + "/pvl_update_install.dat", md5Of(program).toUtf8());
    runWorker();
    const QString started = temp + "/pvl_install.exe";
    ASSERT_TRUE(
        waitFor([&] { return !startsRecordedBy(started).isEmpty(); }, kDetachedStartTimeoutMs))
        << logMessages().join("\n").toStdString();
    // What the installer does: version 3 of every file, and no hot update any more.
    Tree version3;
    for (const QString& file : merged(version1, version2).keys())
        version3[file] = "v3 " + file.toUtf8();
    writeTree(app, version3);
    QFile::remove(update() + "/pkg");
    QFile::remove(update() + "/dat");

    runWorker();
    runWorker();
    EXPECT_EQ(readTree(app, kNotInstalled), version3);
    EXPECT_TRUE(entryNames(update()).isEmpty()) << entryNames(update()).join(",").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    KillPoints, InterruptedUpdateTest,
    ::testing::Values(
        KillPoint{"Extracting",
                  [](const QString& u) { return QFileInfo::exists(u + "/staging/bulk"); }},
        KillPoint{"MovingFiles",
                  [](const QString& u) { return QFileInfo::exists(u + "/replaced"); }},
        KillPoint{"MovedHalf",
                  [](const QString& u) { return QFileInfo::exists(u + "/replaced/bulk/d10"); }},
        KillPoint{"Finishing",
                  [](const QString& u) {
                      return QFileInfo::exists(u + "/obsolete") || !QFileInfo::exists(u + "/pkg");
                  }}),
    [](const ::testing::TestParamInfo<KillPoint>& info) { return info.param.name; });

}  // namespace
