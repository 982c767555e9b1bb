// The download tool (http_download) against a Python HTTP server on
// 127.0.0.1, run the way the application runs it: through UrlDownloader. With
// WINDOWS_TOOLS_DIR set the Windows build of the tool runs under Wine in its
// place; with TRANSFER_TEST_TLS the server speaks HTTPS.

#include <QLockFile>
#include <QRegularExpression>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "test_support.h"
#include "url_downloader.h"

namespace {

using namespace TransferTest;

const char kTool[] = "pvl_downloader.exe";

class DownloadToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        files = new QTemporaryDir;
        server = new ServerProcess;
        ASSERT_TRUE(writeRandomFile(files->filePath("big.bin"), kBigSize, 3));
        ASSERT_TRUE(writeRandomFile(files->filePath("小 文件.bin"), kSlowSize, 4));
        ASSERT_TRUE(TestSupport::trustTestAuthority());
        QString error;
        ASSERT_TRUE(startHttpServer(*server, files->path(), files->filePath("requests.log"),
                                    tls() ? "good.pem" : "", error))
            << qPrintable(error);
    }
    static void TearDownTestSuite() {
        delete server;
        delete files;
    }
    void SetUp() override {
        ASSERT_TRUE(target.isValid());
        placeTool(kTool, PVL_TOOLS_DIR "/pvl_downloader.exe");
        newRequests();
    }

    // The server's log lines ("<path> range=.. if-range=.. <status> <bytes>")
    // since the last call. The server logs a request once it has answered it,
    // which may be just after the tool has ended: waits up to 5 s for `count`.
    QStringList newRequests(int count = 0) {
        QStringList lines;
        for (int waited = 0; waited < 5000; waited += 50) {
            lines = QString::fromUtf8(readFile(files->filePath("requests.log")))
                        .split('\n', Qt::SkipEmptyParts);
            if (lines.size() - seenRequests >= count) break;
            QThread::msleep(50);
        }
        lines = lines.mid(seenRequests);
        seenRequests += lines.size();
        return lines;
    }

    // Runs a download of `url` that the server holds after half the file, and
    // kills the tool once that half is in the partial file. Meanwhile a second
    // run for the same target is turned away, and leaves the first run's files.
    void killAtHalf(const QString& url, const QString& save, qint64 size) {
        UrlDownloader downloader(url.toStdString(), save.toStdString());
        std::atomic<bool> running{true};
        Outcome meanwhile;
        std::thread killer([&] {
            // Bounded well below the tool's own 60 s stall limit.
            for (int waited = 0;
                 running && waited < 20000 && QFileInfo(save + ".part").size() < size / 2;
                 waited += 20)
                QThread::msleep(20);
            UrlDownloader second(url.toStdString(), save.toStdString());
            meanwhile = outcomeOf(second, false);
            downloader.kill();
        });
        const Outcome run = outcomeOf(downloader);
        running = false;
        killer.join();
        EXPECT_FALSE(meanwhile.ok);
        EXPECT_NE(meanwhile.error.find("另一个下载程序正在保存到"), std::string::npos)
            << meanwhile.error;
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(QFileInfo(save + ".part").size(), size / 2);
        EXPECT_FALSE(QFile::exists(save));
    }
    void TearDown() override { removeFromAppFolder(kTool); }

    // What is left in the target's folder besides the target.
    QStringList strayFiles(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
    }

    static const qint64 kBigSize = 24 * 1024 * 1024;
    static const qint64 kSlowSize = 512 * 1024;
    static QTemporaryDir* files;
    static ServerProcess* server;
    QTemporaryDir target;
    int seenRequests = 0;
};

QTemporaryDir* DownloadToolTest::files = nullptr;
ServerProcess* DownloadToolTest::server = nullptr;

TEST_F(DownloadToolTest, LargeFileArrivesWhole) {
    const QString save = target.filePath("新 目录/sub/下载 1.bin");
    UrlDownloader downloader(server->url("/files/big.bin").toStdString(), save.toStdString());
    const Outcome run = outcomeOf(downloader);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(readFile(save), readFile(files->filePath("big.bin")));
    EXPECT_EQ(strayFiles(target.filePath("新 目录/sub")), QStringList{"下载 1.bin"});
    // The last progress reaches the runner on its own, not merged with the result.
    ASSERT_FALSE(run.progress.empty());
    const std::string size = std::to_string(kBigSize);
    EXPECT_EQ(run.progress.back(), (Report{"100", size, size}));
}

TEST_F(DownloadToolTest, SavedFileHasTheModeOfANewFile) {
    if (windowsTools()) GTEST_SKIP() << "a Windows file has no mode";
    const QString save = target.filePath("mode.bin");
    const mode_t old = ::umask(027);
    UrlDownloader downloader(server->url("/files/big.bin").toStdString(), save.toStdString());
    const bool ok = downloader.exec();
    ::umask(old);
    ASSERT_TRUE(ok) << downloader.getErrorMessage();
    // For the user ("owner" is the effective user), the group and others: 0640.
    EXPECT_EQ(QFileInfo(save).permissions() & 0x0777,
              QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadGroup)
        << std::hex << QFileInfo(save).permissions();
}

TEST_F(DownloadToolTest, SlowDownloadReportsProgress) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    // The server sends this file in small pieces over about a second.
    const QString save = target.filePath("slow.bin");
    UrlDownloader downloader(server->url("/slow/小 文件.bin").toStdString(), save.toStdString());
    const Outcome run = outcomeOf(downloader);
    ASSERT_TRUE(run.ok) << run.error;
    ASSERT_GE(run.progress.size(), 2u);
    for (size_t i = 0; i < run.progress.size(); ++i) {
        const int percent = std::stoi(run.progress[i][0]);
        EXPECT_EQ(run.progress[i][2], std::to_string(kSlowSize));
        EXPECT_EQ(percent, std::stoll(run.progress[i][1]) * 100 / kSlowSize);
        if (i > 0) {
            EXPECT_LE(std::stoi(run.progress[i - 1][0]), percent);
        }
    }
}

TEST_F(DownloadToolTest, NonAsciiUrlAndRedirectAreFollowed) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString save = target.filePath("a.bin");
    UrlDownloader downloader(server->url("/redirect/小 文件.bin").toStdString(),
                             save.toStdString());
    const Outcome run = outcomeOf(downloader);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(readFile(save), readFile(files->filePath("小 文件.bin")));
    const QStringList requests = newRequests(2);
    ASSERT_EQ(requests.size(), 2) << qPrintable(requests.join('\n'));
    EXPECT_TRUE(requests[0].startsWith("/redirect/")) << qPrintable(requests[0]);
    EXPECT_TRUE(requests[1].startsWith("/files/")) << qPrintable(requests[1]);
}

TEST_F(DownloadToolTest, RedirectLoopFailsNamingTheRedirects) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString save = target.filePath("loop.bin");
    UrlDownloader downloader(server->url("/loop/big.bin").toStdString(), save.toStdString());
    const Outcome run = outcomeOf(downloader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("重定向超过 10 次"), std::string::npos) << run.error;
    EXPECT_EQ(run.error.find("HTTP状态 302"), std::string::npos) << run.error;
    EXPECT_EQ(newRequests(11).size(), 11);
    EXPECT_TRUE(strayFiles(target.path()).isEmpty());
}

TEST_F(DownloadToolTest, AnswerThatIsNoFileFailsAndKeepsTheOldFile) {
    const QString save = target.filePath("keep.bin");
    QFile old(save);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();
    // Not found, and success statuses other than 200 (a 206 that was not asked for).
    for (const auto& [path, status] :
         {std::pair{"missing.bin", "404"}, std::pair{"小 文件.bin?status=203", "203"},
          std::pair{"小 文件.bin?status=204", "204"}, std::pair{"小 文件.bin?status=206", "206"}}) {
        UrlDownloader downloader(server->url(QString("/files/") + path).toStdString(),
                                 save.toStdString());
        const Outcome run = outcomeOf(downloader);
        EXPECT_FALSE(run.ok) << path;
        EXPECT_NE(run.error.find(std::string("HTTP状态 ") + status), std::string::npos)
            << run.error;
        EXPECT_EQ(readFile(save), QByteArray("old content")) << path;
        EXPECT_EQ(strayFiles(target.path()), QStringList{"keep.bin"}) << path;
    }

    // A complete download then replaces it.
    UrlDownloader again(server->url("/files/%E5%B0%8F%20%E6%96%87%E4%BB%B6.bin").toStdString(),
                        save.toStdString());
    ASSERT_TRUE(again.exec()) << again.getErrorMessage();
    EXPECT_EQ(readFile(save), readFile(files->filePath("小 文件.bin")));
}

TEST_F(DownloadToolTest, LockThatNoRunningProgramHoldsIsTakenOver) {
    // Left by a power cut just after a run began, written under another host
    // name (a renamed machine), or damaged.
    for (const QByteArray& lock : {QByteArray(), QByteArray("4321\npvl_downloader\nother-host\n"),
                                   QByteArray("not a lock")}) {
        const QString save = target.filePath("locked.bin");
        QFile::remove(save);
        QFile file(save + ".part.lock");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(lock);
        file.close();
        UrlDownloader downloader(server->url("/files/小 文件.bin").toStdString(),
                                 save.toStdString());
        const Outcome run = outcomeOf(downloader);
        ASSERT_TRUE(run.ok) << run.error << " with the lock " << lock.constData();
        EXPECT_EQ(readFile(save), readFile(files->filePath("小 文件.bin")));
        EXPECT_EQ(strayFiles(target.path()), QStringList{"locked.bin"});
    }
}

TEST_F(DownloadToolTest, TargetThatCannotBeReplacedFailsAndLeavesNoPartFile) {
    // A folder in the target's place is refused, and left as it is.
    const QString save = target.filePath("a folder");
    ASSERT_TRUE(QDir().mkpath(save + "/inner"));
    UrlDownloader downloader(server->url("/files/big.bin").toStdString(), save.toStdString());
    const Outcome run = outcomeOf(downloader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("a folder"), std::string::npos) << run.error;
    EXPECT_TRUE(QFileInfo(save + "/inner").isDir());
    EXPECT_TRUE(strayFiles(target.path()).isEmpty())
        << strayFiles(target.path()).join(",").toStdString();
}

TEST_F(DownloadToolTest, ConnectionCutMidBodyLeavesNoFile) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString save = target.filePath("cut.bin");
    UrlDownloader downloader(server->url("/cut/big.bin").toStdString(), save.toStdString());
    const Outcome run = outcomeOf(downloader);
    EXPECT_FALSE(run.ok);
    EXPECT_FALSE(run.error.empty());
    EXPECT_FALSE(QFile::exists(save));
    EXPECT_TRUE(strayFiles(target.path()).isEmpty())
        << qPrintable(strayFiles(target.path()).join(","));
    EXPECT_EQ(newRequests(4).size(), 4) << "tried again three times";
}

TEST_F(DownloadToolTest, DroppedConnectionAndBusyServerAreTriedAgain) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    for (const QString kind : {"cutonce", "busyonce"}) {
        const QString name = kind + ".bin";
        ASSERT_TRUE(writeRandomFile(files->filePath(name), kBigSize, 5));
        const QString save = target.filePath(name);
        UrlDownloader downloader(server->url("/" + kind + "/" + name).toStdString(),
                                 save.toStdString());
        const Outcome run = outcomeOf(downloader);
        ASSERT_TRUE(run.ok) << run.error;
        EXPECT_EQ(readFile(save), readFile(files->filePath(name)));
        const QStringList requests = newRequests(2);
        ASSERT_EQ(requests.size(), 2) << qPrintable(requests.join('\n'));
        if (kind == "cutonce") {
            // The second request continues what the first delivered.
            const QRegularExpression ranged("range=bytes=(\\d+)- .* 206 (\\d+)$");
            const QRegularExpressionMatch match = ranged.match(requests[1]);
            ASSERT_TRUE(match.hasMatch()) << qPrintable(requests[1]);
            EXPECT_EQ(match.captured(1).toLongLong() + match.captured(2).toLongLong(), kBigSize);
        }
        EXPECT_EQ(strayFiles(target.path()), QStringList{name});
        QFile::remove(save);
    }
}

// What changes between the two runs: the served file, or (MetaPadded) the
// partial file's .part.meta, padded with blanks past any the tool writes.
enum class ServerChange { None, FileChanged, FileRemoved, MetaPadded };

struct ResumeCase {
    const char* name;
    const char* query;
    ServerChange change;
    // The status and body length of the second run's request, as part of a log line.
    const char* answer;
    // The second run fails and leaves the partial file for a later one.
    bool keepsPartial = false;
    // Requests the second run makes; `answer` ends one of them.
    int requests = 1;
};

class DownloadResumeTest : public DownloadToolTest,
                           public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(DownloadResumeTest, SecondRunAfterAKillGivesTheExactFile) {
    const ResumeCase& c = GetParam();
    const qint64 size = 4 * 1024 * 1024;
    const QString name = QString(c.name) + ".bin";
    const QString served = files->filePath(name);
    ASSERT_TRUE(writeRandomFile(served, size, 6));
    const QString url = server->url("/holdonce/" + name + c.query);
    const QString save = target.filePath("resumed.bin");
    killAtHalf(url, save, size);
    newRequests(1);

    if (c.change == ServerChange::FileChanged) {
        QThread::msleep(20);  // a modification time of its own
        ASSERT_TRUE(writeRandomFile(served, size + 1, 7));
    } else if (c.change == ServerChange::FileRemoved) {
        ASSERT_TRUE(QFile::remove(served));
    } else if (c.change == ServerChange::MetaPadded) {
        QFile meta(save + ".part.meta");
        ASSERT_TRUE(meta.open(QIODevice::Append));
        meta.write(QByteArray(100 * 1024, ' '));
    }
    UrlDownloader downloader(url.toStdString(), save.toStdString());
    const Outcome run = outcomeOf(downloader);
    const QStringList requests = newRequests(c.requests);
    ASSERT_EQ(requests.size(), c.requests) << qPrintable(requests.join('\n'));
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [&c](const QString& line) {
        return line.contains(c.answer);
    })) << qPrintable(requests.join('\n'));
    if (c.keepsPartial) {
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.error.find("HTTP状态 202"), std::string::npos) << run.error;
        EXPECT_EQ(strayFiles(target.path()),
                  QStringList({"resumed.bin.part", "resumed.bin.part.meta"}));
        EXPECT_EQ(QFileInfo(save + ".part").size(), size / 2);
        return;
    }
    if (c.change == ServerChange::FileRemoved) {
        EXPECT_FALSE(run.ok);
        // The partial file of the earlier run goes with the failed one.
        EXPECT_TRUE(strayFiles(target.path()).isEmpty())
            << qPrintable(strayFiles(target.path()).join(","));
        return;
    }
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(readFile(save), readFile(served));
    EXPECT_EQ(strayFiles(target.path()), QStringList{"resumed.bin"});
}

INSTANTIATE_TEST_SUITE_P(
    Servers, DownloadResumeTest,
    ::testing::Values(
        // Only the second half crosses the network again.
        ResumeCase{"Continues", "", ServerChange::None, " 206 2097152"},
        ResumeCase{"IgnoredRange", "?noranges", ServerChange::None, " 200 4194304"},
        ResumeCase{"ChangedFile", "", ServerChange::FileChanged, " 200 4194305"},
        // A .part.meta larger than any the tool writes is not read on.
        ResumeCase{"OversizedMeta", "", ServerChange::MetaPadded, " 200 4194304"},
        // A 206 need not repeat the Last-Modified that "If-Range" named.
        ResumeCase{"DateValidatorNotRepeated", "?noetag&bare206", ServerChange::None,
                   " 206 2097152"},
        ResumeCase{"RemovedFile", "", ServerChange::FileRemoved, " 404 10"},
        // A range answered with another success status is not the rest.
        ResumeCase{"RangeAnsweredWith202", "?rangestatus=202", ServerChange::None, " 202 ", true},
        // The server honours Range but ignores If-Range: the rest of the
        // changed file is refused, and the whole new one fetched.
        ResumeCase{"IfRangeIgnored", "?noifrange", ServerChange::FileChanged, " 200 4194305", false,
                   2}),
    [](const ::testing::TestParamInfo<ResumeCase>& info) { return info.param.name; });

TEST_F(DownloadToolTest, UnreachableServerFailsWithTheNetworkError) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString save = target.filePath("x.bin");
    // Nothing listens on the discard port here.
    UrlDownloader downloader("http://127.0.0.1:9/x", save.toStdString());
    const Outcome run = outcomeOf(downloader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("网络错误"), std::string::npos) << run.error;
    EXPECT_FALSE(QFile::exists(save));
}

// Answers whose framing is broken, each from a server that sends it as it is
// and closes: none may pass for the file. The cut-off ones, tried again for
// seconds, run at once.
TEST_F(DownloadToolTest, BrokenFramingFailsAndLeavesTheTargetAlone) {
    const std::vector<TestSupport::BrokenAnswer>& answers = TestSupport::brokenAnswers();
    std::vector<Outcome> runs(answers.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < answers.size(); ++i) {
        const QString name = QString(answers[i].name) + ".raw";
        TestSupport::writeFile(files->filePath(name), answers[i].bytes);
        const QString save = target.filePath(name);
        TestSupport::writeFile(save, "old content");
        auto run = [&runs, i, url = server->url("/raw/" + name), save] {
            UrlDownloader downloader(url.toStdString(), save.toStdString());
            runs[i] = outcomeOf(downloader, false);
        };
        if (answers[i].cutOff) {
            threads.emplace_back(run);
        } else {
            run();
        }
    }
    for (std::thread& thread : threads) thread.join();
    int expectedRequests = 0;
    for (const TestSupport::BrokenAnswer& answer : answers) {
        expectedRequests += answer.cutOff ? 4 : 1;
    }
    const QStringList requests = newRequests(expectedRequests);
    QStringList left;
    for (size_t i = 0; i < answers.size(); ++i) {
        SCOPED_TRACE(answers[i].name);
        EXPECT_FALSE(runs[i].ok);
        EXPECT_EQ(runs[i].error.rfind("下载失败, 网络错误: ", 0), 0u) << runs[i].error;
        const QString name = QString(answers[i].name) + ".raw";
        EXPECT_EQ(readFile(target.filePath(name)), "old content");
        left.append(name);
        // A cut-off answer is tried again; a malformed one is not.
        EXPECT_EQ(requests.filter("/raw/" + name + " ").size(), answers[i].cutOff ? 4 : 1);
    }
    left.sort();
    EXPECT_EQ(strayFiles(target.path()), left);

    // The same server's well-formed chunked answer is the file.
    TestSupport::writeFile(files->filePath("whole.raw"),
                           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                           "3;x=1\r\nabc\r\n2\r\nde\r\n0\r\nT: 1\r\n\r\n");
    UrlDownloader whole(server->url("/raw/whole.raw").toStdString(),
                        target.filePath("whole.bin").toStdString());
    ASSERT_TRUE(whole.exec()) << whole.getErrorMessage();
    EXPECT_EQ(readFile(target.filePath("whole.bin")), "abcde");
}

// A server whose certificate does not prove it is the host asked for: refused
// at once, with the host and the reasons, and the target stays as it was.
TEST_F(DownloadToolTest, RefusedCertificateIsNamedAndTheTargetKept) {
    for (const TestSupport::RefusedCertificate& refused : TestSupport::refusedCertificates()) {
        SCOPED_TRACE(refused.certificate);
        ServerProcess server;
        QString error;
        ASSERT_TRUE(startHttpServer(server, files->path(), target.filePath("tls.log"),
                                    refused.certificate, error))
            << qPrintable(error);
        const QString save = target.filePath("kept.bin");
        TestSupport::writeFile(save, "old content");
        UrlDownloader downloader(server.url("/files/big.bin").toStdString(), save.toStdString());
        EXPECT_FALSE(downloader.exec());
        EXPECT_EQ(
            downloader.getErrorMessage(),
            std::string("下载失败, 服务器证书验证失败, 拒绝连接 127.0.0.1: ") + refused.reasons);
        EXPECT_EQ(readFile(save), "old content");
        EXPECT_EQ(strayFiles(target.path()), QStringList({"kept.bin", "tls.log"}));
        server.stop();
        EXPECT_EQ(readFile(target.filePath("tls.log")).count("TLS-REFUSED"), 1)
            << "not tried again";
        QFile::remove(target.filePath("tls.log"));
    }
}

// Extra roots that cannot be read are no reason to trust fewer or more.
TEST_F(DownloadToolTest, UnreadableExtraRootsFailBeforeAnyRequest) {
    const QByteArray roots = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", target.filePath("missing.pem").toLocal8Bit());
    UrlDownloader downloader(server->url("/files/big.bin").toStdString(),
                             target.filePath("x.bin").toStdString());
    const Outcome run = outcomeOf(downloader, false);
    qputenv("SSL_CERT_FILE", roots);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.rfind("SSL_CERT_FILE 指定的证书文件无法读取或没有证书: ", 0), 0u)
        << run.error;
    EXPECT_TRUE(newRequests().isEmpty());
}

// A run that finds a lock no running program holds takes it over only while no
// other run is taking it over: a second taker that removed the first one's
// new lock by name would write the partial file beside it.
TEST_F(DownloadToolTest, StaleLockIsTakenOverOneTakerAtATime) {
    const QString save = target.filePath("taken.bin");
    const QByteArray stale = "4321\npvl_downloader\nother-host\n";
    TestSupport::writeFile(save + ".part.lock", stale);
    // A taker in the middle of its takeover. (The lock of this Linux test is
    // stale to a Windows program, and Windows refuses to delete a held lock.)
    if (!windowsTools()) {
        QLockFile takeover(save + ".part.lock.rmlock");
        ASSERT_TRUE(takeover.tryLock(0));
        UrlDownloader meanwhile(server->url("/files/小 文件.bin").toStdString(),
                                save.toStdString());
        const Outcome run = outcomeOf(meanwhile, false);
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.error.find("另一个下载程序正在保存到"), std::string::npos) << run.error;
        EXPECT_EQ(readFile(save + ".part.lock"), stale);
    }
    // Takers at once: every one either has the file or is turned away.
    std::vector<Outcome> runs(4);
    std::vector<std::thread> takers;
    for (Outcome& run : runs) {
        takers.emplace_back([&run, url = server->url("/slow/小 文件.bin"), save] {
            UrlDownloader downloader(url.toStdString(), save.toStdString());
            run = outcomeOf(downloader, false);
        });
    }
    for (std::thread& taker : takers) taker.join();
    int succeeded = 0;
    for (const Outcome& run : runs) {
        succeeded += run.ok;
        if (!run.ok) {
            EXPECT_NE(run.error.find("另一个下载程序正在保存到"), std::string::npos) << run.error;
        }
    }
    EXPECT_GE(succeeded, 1);
    EXPECT_EQ(readFile(save), readFile(files->filePath("小 文件.bin")));
    EXPECT_EQ(strayFiles(target.path()), QStringList{"taken.bin"});
}

}  // namespace
