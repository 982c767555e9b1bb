#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QXmlStreamReader>

#include <thread>
#include <utility>
#include <vector>

#include "argument_decoder.h"
#include "message_writer.h"
#include "oss_uploader.h"
#include "s3_upload.h"
#include "test_support.h"

namespace {

using TransferTest::LogCapture;
using Progress = std::pair<int, std::string>;

const char kTool[] = "pvl_uploader.exe";
// How long the check of a completion whose answer was lost may take, from its
// arrival at the store to the tool's end; the store keeps an idle connection
// open for 5 s.
const qint64 kCheckLimitMs = 1500;

QString appPath(const QString& name) { return QCoreApplication::applicationDirPath() + "/" + name; }

// A stand-in tool that records its arguments beside itself, then runs `body`.
void placeStandIn(const QString& body) {
    TransferTest::placeScript(kTool,
                              "printf '%s\\n' \"$#\" > \"$0.argc\"\n"
                              "printf '%s' \"$1\" > \"$0.arg\"\n" +
                                  body);
}

OssUploader::OssEntry sampleEntry() {
    OssUploader::OssEntry entry;
    entry.ak = "AKID";
    entry.sk = "TOP-SECRET-sk";
    entry.bucket = "bucket";
    entry.endpoint = "127.0.0.1:9";
    entry.region = "cn-hangzhou";
    entry.key = "备份/2024 年.zip";
    entry.localFilename = "C:/用户/文档 1/报告.zip";
    entry.disableSsl = true;
    entry.s3ForcePathStyle = false;
    entry.withUploadFile = false;
    entry.uploadFile = "ignored.zip";
    return entry;
}

struct Outcome {
    bool ok = false;
    std::string error;
    std::vector<Progress> progress;
};

Outcome runUploader(OssUploader& uploader, bool withCallback = true) {
    Outcome run;
    if (withCallback) {
        uploader.setProgressCallback(
            [&run](int value, std::string text) { run.progress.emplace_back(value, text); });
    }
    run.ok = uploader.exec();
    run.error = uploader.getErrorMessage();
    return run;
}

QString recordedJson() {
    QByteArray json;
    QString error;
    const QByteArray argument = TransferTest::readFile(appPath("pvl_uploader.exe.arg"));
    EXPECT_TRUE(ArgumentDecoder::decode(QString::fromLatin1(argument), json, error));
    return QString::fromUtf8(json);
}

// --- Output handling, with stand-in tools for what the real tool never prints ---

struct OutputCase {
    const char* name;
    const char* script;
    bool ok;
    std::string error;
    std::vector<Progress> progress;
};

class UploaderOutputTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(UploaderOutputTest, ReportsProgressAndOutcome) {
    const OutputCase& c = GetParam();
    placeStandIn(c.script);
    OssUploader uploader(sampleEntry(), 2);
    const Outcome run = runUploader(uploader);
    EXPECT_EQ(run.ok, c.ok);
    EXPECT_EQ(run.error, c.error);
    EXPECT_EQ(run.progress, c.progress);
}

// Separate printf calls with a pause arrive as separate reads; one printf is one write.
INSTANTIATE_TEST_SUITE_P(
    Messages, UploaderOutputTest,
    ::testing::Values(
        OutputCase{"ThreeFields",
                   "printf 'PROGRESS 42 abc\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
                   true,
                   "",
                   {Progress{42, "abc"}}},
        OutputCase{"FourFieldsIgnored",
                   "printf 'PROGRESS 42 1 2\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
                   true,
                   "",
                   {}},
        OutputCase{"TwoBlanksMakeFourFields",
                   "printf 'PROGRESS  42 abc\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
                   true,
                   "",
                   {}},
        OutputCase{"NonNumericValueIsZero",
                   "printf 'PROGRESS 4x2 进度\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
                   true,
                   "",
                   {Progress{0, "进度"}}},
        OutputCase{"TwoMessagesInOneReadIgnored",
                   "printf 'PROGRESS 42 abc\\nPROGRESS 43 def\\n'; sleep 0.6; "
                   "printf 'RESULT SUCCESS\\n'",
                   true,
                   "",
                   {}},
        OutputCase{"StandardErrorIgnored",
                   "printf 'PROGRESS 9 x\\n' >&2; sleep 0.6; "
                   "printf 'RESULT FAILED from stderr\\n' >&2; sleep 0.6; "
                   "printf 'RESULT SUCCESS\\n'",
                   true,
                   "",
                   {}},
        OutputCase{"FailureMessageOfThreeWords",
                   "printf 'RESULT HTTP_ERROR access is denied\\n'",
                   false,
                   "access is denied",
                   {}},
        OutputCase{"NoResultWithExitCodeZero",
                   "printf 'PROGRESS 1 x\\n'; exit 0",
                   false,
                   "上传程序意外退出",
                   {Progress{1, "x"}}},
        OutputCase{
            "SuccessThenNonZeroExitCode", "printf 'RESULT SUCCESS\\n'; exit 3", true, "", {}},
        OutputCase{"FailureMergedWithProgressFailsWithoutText",
                   "printf 'PROGRESS 1 x\\nRESULT HTTP_ERROR a b\\n'",
                   false,
                   "",
                   {}},
        OutputCase{"SuccessInsideALongerBlock",
                   "printf 'PROGRESS 1 x\\nRESULT SUCCESS\\n'",
                   true,
                   "",
                   {}}),
    [](const ::testing::TestParamInfo<OutputCase>& info) { return info.param.name; });

class UploaderRunnerTest : public ::testing::Test {
protected:
    void TearDown() override { TransferTest::removeFromAppFolder(kTool); }
    LogCapture log;
};

TEST_F(UploaderRunnerTest, SendsTheJobAsCompactSortedJson) {
    placeStandIn("printf 'RESULT SUCCESS\\n'");
    OssUploader uploader(sampleEntry(), 4);
    ASSERT_TRUE(uploader.exec());
    EXPECT_EQ(TransferTest::readFile(appPath("pvl_uploader.exe.argc")), QByteArray("1\n"));
    EXPECT_EQ(recordedJson(),
              QString::fromUtf8(
                  "{\"disable_ssl\":true,\"local_filename\":\"C:/用户/文档 1/报告.zip\","
                  "\"oss_ak\":\"AKID\",\"oss_bucket\":\"bucket\",\"oss_endpoint\":\"127.0.0.1:9\","
                  "\"oss_key\":\"备份/2024 年.zip\",\"oss_region\":\"cn-hangzhou\","
                  "\"oss_sk\":\"TOP-SECRET-sk\",\"pool_size\":4,\"s3_force_path_style\":false}"));

    OssUploader::OssEntry entry = sampleEntry();
    entry.withUploadFile = true;
    entry.ak.clear();
    OssUploader withName(entry, 1);
    ASSERT_TRUE(withName.exec());
    const QString json = recordedJson();
    EXPECT_TRUE(json.contains("\"oss_ak\":\"\",")) << qPrintable(json);
    EXPECT_TRUE(json.endsWith(",\"upload_file\":\"ignored.zip\"}")) << qPrintable(json);
}

TEST_F(UploaderRunnerTest, LogsTheEncodedArgumentNeverTheSecret) {
    placeStandIn("printf 'PROGRESS 5 x\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'");
    OssUploader uploader(sampleEntry(), 1);
    ASSERT_TRUE(uploader.exec());  // no progress receiver: messages are only collected
    const std::string commandLine =
        appPath(kTool).toStdString() + " " +
        TransferTest::readFile(appPath("pvl_uploader.exe.arg")).toStdString();
    const auto infos = log.messages(google::GLOG_INFO);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0], commandLine);
    EXPECT_EQ(infos[1], commandLine + "\nPROGRESS 5 x\nRESULT SUCCESS");
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.message.find("TOP-SECRET-sk"), std::string::npos) << line.message;
    }
}

TEST_F(UploaderRunnerTest, MissingToolFailsWithItsText) {
    TransferTest::removeFromAppFolder(kTool);
    OssUploader uploader(sampleEntry(), 1);
    const Outcome run = runUploader(uploader);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.rfind("拉起上传程序失败 ", 0), 0u) << run.error;
    const auto errors = log.messages(google::GLOG_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("拉起进程错误: " + appPath(kTool).toStdString() + " 0 ", 0), 0u)
        << errors[0];
}

TEST_F(UploaderRunnerTest, ALaterRunIsJudgedByItsOwnOutput) {
    OssUploader uploader(sampleEntry(), 1);
    placeStandIn("printf 'RESULT SUCCESS\\n'");
    EXPECT_TRUE(uploader.exec());
    placeStandIn("printf 'PROGRESS 1 x\\n'");
    EXPECT_FALSE(uploader.exec());
    EXPECT_EQ(uploader.getErrorMessage(), "上传程序意外退出");
}

TEST_F(UploaderRunnerTest, KillBeforeExecOnlyLogs) {
    OssUploader uploader(sampleEntry(), 1);
    uploader.kill();
    EXPECT_EQ(log.messages(google::GLOG_WARNING), std::vector<std::string>{"杀掉上传程序 "});
}

TEST_F(UploaderRunnerTest, KillEndsARunningToolAndTheRunFails) {
    placeStandIn("printf 'PROGRESS 1 x\\n'; exec sleep 30");
    OssUploader uploader(sampleEntry(), 1);
    std::thread killer([&uploader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        uploader.kill();
    });
    QElapsedTimer timer;
    timer.start();
    const bool ok = uploader.exec();
    killer.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(uploader.getErrorMessage(), "上传程序意外退出");
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST_F(UploaderRunnerTest, AboutToQuitKills) {
    OssUploader uploader(sampleEntry(), 1);
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    qApp->exec();
    EXPECT_EQ(log.messages(google::GLOG_WARNING), std::vector<std::string>{"杀掉上传程序 "});
}

// --- The real tool against s3rver ---

class UploadToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        data = new QTemporaryDir;
        server = new TransferTest::ServerProcess;
        ASSERT_STRNE(PVL_NODE, "") << "node is needed for the S3 test server";
        QString error;
        ASSERT_TRUE(server->start(PVL_NODE,
                                  {PVL_TEST_SERVERS_DIR "/s3_server.js", PVL_S3RVER_PREFIX,
                                   data->filePath("store"), data->filePath("requests.log")},
                                  error))
            << qPrintable(error);
    }
    static void TearDownTestSuite() {
        delete server;
        delete data;
    }
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        TransferTest::placeTool(kTool, PVL_TOOLS_DIR "/pvl_uploader.exe");
    }
    void TearDown() override { TransferTest::removeFromAppFolder(kTool); }

    OssUploader::OssEntry entryFor(const QString& localFile, const QString& key) {
        OssUploader::OssEntry entry;
        entry.ak = "S3RVER";
        entry.sk = "S3RVER";
        entry.bucket = "bucket";
        entry.endpoint = QString("127.0.0.1:%1").arg(server->port());
        entry.region = "us-east-1";
        entry.key = key;
        entry.localFilename = localFile;
        entry.disableSsl = true;
        entry.s3ForcePathStyle = true;
        return entry;
    }

    // The stored object, read back with an unsigned GET.
    QByteArray readBack(const QString& encodedKey, int* status = nullptr,
                        QList<QNetworkReply::RawHeaderPair>* headers = nullptr) {
        QByteArray body;
        QList<QNetworkReply::RawHeaderPair> received;
        int code = 0;
        TransferTest::httpGet(server->url("/bucket/" + encodedKey), body, received, code);
        if (status) *status = code;
        if (headers) *headers = received;
        return body;
    }

    // The keys of the bucket, as its listing gives them.
    QStringList storedKeys() {
        QByteArray body;
        QList<QNetworkReply::RawHeaderPair> headers;
        int status = 0;
        TransferTest::httpGet(server->url("/bucket?max-keys=1000"), body, headers, status);
        QStringList keys;
        QXmlStreamReader xml(body);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement &&
                xml.name() == QLatin1String("Key")) {
                keys.append(xml.readElementText());
            }
        }
        return keys;
    }

    static QStringList requests() {
        return QString::fromUtf8(TransferTest::readFile(data->filePath("requests.log")))
            .split('\n', Qt::SkipEmptyParts);
    }

    static QTemporaryDir* data;
    static TransferTest::ServerProcess* server;
    QTemporaryDir files;
};

QTemporaryDir* UploadToolTest::data = nullptr;
TransferTest::ServerProcess* UploadToolTest::server = nullptr;

TEST_F(UploadToolTest, SmallFileArrivesWithItsDownloadName) {
    const QString local = files.filePath("本地 文件.bin");
    ASSERT_TRUE(TransferTest::writeRandomFile(local, 1000, 5));
    OssUploader::OssEntry entry = entryFor(local, "目录/小 文件+1!.bin");
    entry.withUploadFile = true;
    entry.uploadFile = "报告 2024.bin";
    OssUploader uploader(entry, 3);
    const Outcome run = runUploader(uploader);
    ASSERT_TRUE(run.ok) << run.error;

    int status = 0;
    QList<QNetworkReply::RawHeaderPair> headers;
    const QByteArray stored =
        readBack("%E7%9B%AE%E5%BD%95/%E5%B0%8F%20%E6%96%87%E4%BB%B6%2B1%21.bin", &status, &headers);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(stored, TransferTest::readFile(local));
    QByteArray disposition;
    for (const auto& header : headers) {
        if (header.first.toLower() == "content-disposition") disposition = header.second;
    }
    EXPECT_TRUE(disposition.endsWith("filename*=UTF-8''%E6%8A%A5%E5%91%8A%202024.bin"))
        << disposition.constData();
}

TEST_F(UploadToolTest, LargeFileGoesUpInPartsWithProgress) {
    const QString local = files.filePath("big.bin");
    const qint64 size = 20 * 1024 * 1024;  // three parts of at most 8 MiB
    ASSERT_TRUE(TransferTest::writeRandomFile(local, size, 6));
    OssUploader uploader(entryFor(local, "multi/big.bin"), 3);
    const Outcome run = runUploader(uploader);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(readBack("multi/big.bin"), TransferTest::readFile(local));

    const QStringList log = requests().filter("/bucket/multi/big.bin");
    EXPECT_EQ(log.filter(QRegExp("^PUT .*partNumber=\\d+&uploadId=")).size(), 3)
        << qPrintable(log.join('\n'));
    EXPECT_EQ(log.filter(QRegExp("^POST .*\\?uploads$")).size(), 1);
    EXPECT_EQ(log.filter(QRegExp("^POST .*\\?uploadId=")).size(), 1);
    for (const Progress& progress : run.progress) {
        EXPECT_TRUE(progress.first >= 0 && progress.first <= 100);
        EXPECT_TRUE(QString::fromStdString(progress.second).endsWith(QString("/%1").arg(size)));
    }
}

TEST_F(UploadToolTest, WrongCredentialsFailWithTheServersError) {
    const QString local = files.filePath("c.bin");
    ASSERT_TRUE(TransferTest::writeRandomFile(local, 100, 7));
    struct Case {
        QString ak;
        QString sk;
        std::string code;
    };
    for (const Case& c : {Case{"S3RVER", "wrong", "SignatureDoesNotMatch"},
                          Case{"UNKNOWN", "S3RVER", "InvalidAccessKeyId"}}) {
        OssUploader::OssEntry entry = entryFor(local, "denied/" + c.ak + ".bin");
        entry.ak = c.ak;
        entry.sk = c.sk;
        OssUploader uploader(entry, 1);
        const Outcome run = runUploader(uploader);
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.error.find("403"), std::string::npos) << run.error;
        EXPECT_NE(run.error.find(c.code), std::string::npos) << run.error;
        int status = 0;
        readBack("denied/" + c.ak + ".bin", &status);
        EXPECT_EQ(status, 404);
    }
}

TEST_F(UploadToolTest, MissingLocalFileFailsBeforeAnyRequest) {
    const QString local = files.filePath("不存在.bin");
    OssUploader uploader(entryFor(local, "missing/x.bin"), 1);
    const Outcome run = runUploader(uploader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find(local.toStdString()), std::string::npos) << run.error;
    EXPECT_TRUE(requests().filter("/missing/").isEmpty());
}

TEST_F(UploadToolTest, FailedPartAbortsTheMultipartUpload) {
    const QString local = files.filePath("big.bin");
    ASSERT_TRUE(TransferTest::writeRandomFile(local, 17 * 1024 * 1024, 8));
    // The server always fails part 2 of such keys.
    OssUploader uploader(entryFor(local, "inject-part-failure/big.bin"), 2);
    const Outcome run = runUploader(uploader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("500"), std::string::npos) << run.error;
    EXPECT_NE(run.error.find("InternalError"), std::string::npos) << run.error;

    const QStringList log = requests().filter("/bucket/inject-part-failure/big.bin");
    EXPECT_EQ(log.filter(QRegExp("^PUT .*partNumber=2&")).size(), 3) << "tried three times";
    EXPECT_EQ(log.filter(QRegExp("^DELETE .*\\?uploadId=")).size(), 1)
        << qPrintable(log.join('\n'));
    EXPECT_TRUE(log.filter(QRegExp("^POST .*\\?uploadId=")).isEmpty());
    int status = 0;
    readBack("inject-part-failure/big.bin", &status);
    EXPECT_EQ(status, 404);
}

TEST_F(UploadToolTest, KeyWithDotSegmentsIsStoredUnderExactlyThatKey) {
    // Qt's own stack resolves "." and ".." in the request line: the object
    // went to another key than the one signed for, and the signature failed.
    struct Case {
        QString key;
        qint64 size;
        QString alias;  // where a resolved path would have put it
    };
    for (const Case& c : {Case{"a/./b/../c.txt", 1000, "a/c.txt"}, Case{"./x", 1001, "x"},
                          Case{"../y", 1002, "y"}, Case{"a/..", 1003, ""},
                          Case{"m/./n/../big.bin", 2 * S3Upload::kPartSize + 7, "m/big.bin"},
                          Case{"../big.bin", S3Upload::kPartSize + 9, "big.bin"}}) {
        const QString local = files.filePath("dots.bin");
        ASSERT_TRUE(TransferTest::writeRandomFile(local, c.size, 9));
        OssUploader uploader(entryFor(local, c.key), 3);
        const Outcome run = runUploader(uploader);
        ASSERT_TRUE(run.ok) << run.error;

        EXPECT_EQ(readBack(c.key), TransferTest::readFile(local)) << qPrintable(c.key);
        const QStringList keys = storedKeys();
        EXPECT_TRUE(keys.contains(c.key)) << qPrintable(keys.join(' '));
        EXPECT_FALSE(keys.contains(c.alias)) << qPrintable(c.alias);
        const QString path = QRegExp::escape("/bucket/" + c.key);
        const QStringList log = requests().filter(QRegExp("^(PUT|POST) " + path + "(\\?|$)"));
        // One PUT, or the initiation, the parts and the completion.
        const qint64 parts = (c.size + S3Upload::kPartSize - 1) / S3Upload::kPartSize;
        EXPECT_EQ(log.size(), parts == 1 ? 1 : parts + 2) << qPrintable(requests().join('\n'));
    }
}

TEST_F(UploadToolTest, PoolSizeAboveSixPutsAsManyPartsInFlight) {
    const QString local = files.filePath("pool.bin");
    // Seven parts, all sent at once; the server holds each for 300 ms.
    ASSERT_TRUE(TransferTest::writeRandomFile(local, 6 * S3Upload::kPartSize + 1, 10));
    OssUploader uploader(entryFor(local, "slow-parts/pool.bin"), 7);
    const Outcome run = runUploader(uploader);
    ASSERT_TRUE(run.ok) << run.error;
    int peak = 0;
    for (const QString& line : requests().filter(QRegExp("^INFLIGHT \\d+ /bucket/slow-parts/"))) {
        peak = std::max(peak, line.section(' ', 1, 1).toInt());
    }
    EXPECT_EQ(peak, 7);
    EXPECT_EQ(readBack("slow-parts/pool.bin"), TransferTest::readFile(local));
}

TEST_F(UploadToolTest, RequestTimeoutAndALostCompletionAnswerAreNoFailures) {
    struct Case {
        QString key;
        qint64 size;
        QString retried;  // the request, as logged, that goes out twice
    };
    for (const Case& c :
         {Case{"request-timeout-once/a.bin", 1000, "^PUT /bucket/request-timeout-once/a.bin$"},
          Case{"lose-completion-answer/b.bin", 2 * S3Upload::kPartSize + 5,
               "^POST /bucket/lose-completion-answer/b.bin\\?uploadId="}}) {
        const QString local = files.filePath("retried.bin");
        ASSERT_TRUE(TransferTest::writeRandomFile(local, c.size, 11));
        OssUploader uploader(entryFor(local, c.key), 2);
        const Outcome run = runUploader(uploader);
        const qint64 ended = QDateTime::currentMSecsSinceEpoch();
        ASSERT_TRUE(run.ok) << run.error;
        EXPECT_EQ(readBack(c.key), TransferTest::readFile(local));
        EXPECT_EQ(requests().filter(QRegExp(c.retried)).size(), 2)
            << qPrintable(requests().join('\n'));
        if (c.key.startsWith("lose-completion-answer")) {
            // The lost answer is confirmed with a HEAD, whose answer has no body:
            // waiting for one lasts until the store drops the idle connection.
            const QStringList checks =
                requests().filter(QRegExp("^HEAD-AT \\d+ " + QRegExp::escape("/bucket/" + c.key)));
            ASSERT_EQ(checks.size(), 1) << qPrintable(requests().join('\n'));
            EXPECT_LT(ended - checks[0].section(' ', 1, 1).toLongLong(), kCheckLimitMs);
        }
    }
}

TEST_F(UploadToolTest, StalledPartIsSentAgainWhileOthersMove) {
    const QString local = files.filePath("stall.bin");
    ASSERT_TRUE(TransferTest::writeRandomFile(local, 2 * S3Upload::kPartSize + 5, 12));
    // The second key goes through the upload's own HTTP exchange, which must
    // report progress and give way to an abort as Qt's does.
    for (const QString key : {"stall-once/big.bin", "stall-once/./dots/../big.bin"}) {
        UploadJob job = UploadJob::fromJson(
            QJsonObject{{"oss_ak", "S3RVER"},
                        {"oss_sk", "S3RVER"},
                        {"oss_bucket", "bucket"},
                        {"oss_endpoint", QString("127.0.0.1:%1").arg(server->port())},
                        {"oss_key", key},
                        {"local_filename", local},
                        {"disable_ssl", true},
                        {"s3_force_path_style", true},
                        {"pool_size", 3}});
        job.stallTimeoutMs = 1000;
        std::FILE* output = std::tmpfile();
        ASSERT_NE(output, nullptr);
        {
            MessageWriter messages(output);
            S3Upload upload(job, messages);
            QEventLoop loop;
            QObject::connect(&upload, &S3Upload::finished, &loop, &QEventLoop::quit,
                             Qt::QueuedConnection);
            QTimer::singleShot(0, &upload, &S3Upload::start);
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            loop.exec();
            EXPECT_TRUE(upload.succeeded()) << qPrintable(key);
        }
        std::fclose(output);
        EXPECT_EQ(readBack(key), TransferTest::readFile(local)) << qPrintable(key);
        const QString parts = "^PUT " + QRegExp::escape("/bucket/" + key) + "\\?partNumber=2&";
        EXPECT_EQ(requests().filter(QRegExp(parts)).size(), 2) << qPrintable(key);
    }
}

}  // namespace

int main(int argc, char** argv) { return TransferTest::runTests(argc, argv); }
