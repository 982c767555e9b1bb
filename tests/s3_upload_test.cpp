// The upload tool (s3_upload) against s3rver on 127.0.0.1, run the way the
// application runs it: through OssUploader. With WINDOWS_TOOLS_DIR set the
// Windows build of the tool runs under Wine in its place; with
// TRANSFER_TEST_TLS the store speaks HTTPS.

#include <QDateTime>
#include <QEventLoop>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>

#include "message_writer.h"
#include "oss_uploader.h"
#include "s3_upload.h"
#include "test_support.h"

namespace {

using namespace TransferTest;

const char kTool[] = "pvl_uploader.exe";
// How long the check of a completion whose answer was lost may take, from its
// arrival at the store to the tool's end; the store keeps an idle connection
// open for 5 s.
const qint64 kCheckLimitMs = 1500;

// --- Where the object goes ---

struct TargetCase {
    QString endpoint;
    bool disableSsl;
    bool pathStyle;
    QString key;
    QByteArray scheme;
    QByteArray host;
    QByteArray path;
};

class S3TargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(S3TargetTest, AddressesTheObject) {
    const TargetCase& c = GetParam();
    UploadJob job;
    job.bucket = "bucket";
    job.endpoint = c.endpoint;
    job.disableSsl = c.disableSsl;
    job.forcePathStyle = c.pathStyle;
    job.key = c.key;
    S3Target target;
    QString error;
    ASSERT_TRUE(S3Target::resolve(job, target, error)) << qPrintable(error);
    EXPECT_EQ(target.scheme, c.scheme);
    EXPECT_EQ(target.hostHeader, c.host);
    EXPECT_EQ(target.encodedPath, c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Endpoints, S3TargetTest,
    ::testing::Values(TargetCase{"127.0.0.1:9000", true, true, "a/b.zip", "http", "127.0.0.1:9000",
                                 "/bucket/a/b.zip"},
                      TargetCase{"s3.example.com", false, false, "a b/测.zip", "https",
                                 "bucket.s3.example.com", "/a%20b/%E6%B5%8B.zip"},
                      TargetCase{"http://store.example.com:80/", false, true, "/k", "http",
                                 "store.example.com", "/bucket/k"},
                      TargetCase{"https://store.example.com:8443", true, false, "k", "https",
                                 "bucket.store.example.com:8443", "/k"},
                      TargetCase{"[::1]:9000", true, true, "k", "http", "[::1]:9000", "/bucket/k"},
                      TargetCase{"127.0.0.1:9000", true, true, "./a/../b/.", "http",
                                 "127.0.0.1:9000", "/bucket/./a/../b/."}));

TEST(S3Target, RefusesAMissingBucketKeyOrEndpoint) {
    UploadJob job;
    job.bucket = "bucket";
    job.endpoint = "127.0.0.1:9000";
    job.key = "k";
    S3Target target;
    QString error;
    for (auto spoil : std::vector<std::function<void(UploadJob&)>>{
             [](UploadJob& j) { j.bucket.clear(); }, [](UploadJob& j) { j.key = "/"; },
             [](UploadJob& j) { j.endpoint.clear(); },
             [](UploadJob& j) { j.endpoint = "ftp://host"; }}) {
        UploadJob spoiled = job;
        spoil(spoiled);
        error.clear();
        EXPECT_FALSE(S3Target::resolve(spoiled, target, error));
        EXPECT_FALSE(error.isEmpty());
    }
}

// --- The tool against the store ---

class UploadToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        data = new QTemporaryDir;
        server = new ServerProcess;
        ASSERT_STRNE(PVL_NODE, "") << "node is needed for the S3 test server";
        ASSERT_TRUE(TestSupport::trustTestAuthority());
        QStringList arguments{PVL_TEST_SERVERS_DIR "/s3_server.js", PVL_S3RVER_PREFIX,
                              data->filePath("store"), data->filePath("requests.log")};
        if (tls()) {
            arguments << TestSupport::certificatePath("good.pem")
                      << TestSupport::certificatePath("server.key");
        }
        server->secure = tls();
        QString error;
        ASSERT_TRUE(server->start(PVL_NODE, arguments, error)) << qPrintable(error);
    }
    static void TearDownTestSuite() {
        delete server;
        delete data;
    }
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        placeTool(kTool, PVL_TOOLS_DIR "/pvl_uploader.exe");
    }
    void TearDown() override { removeFromAppFolder(kTool); }

    OssUploader::OssEntry entryFor(const QString& localFile, const QString& key) {
        OssUploader::OssEntry entry;
        entry.ak = "S3RVER";
        entry.sk = "S3RVER";
        entry.bucket = "bucket";
        entry.endpoint = QString("127.0.0.1:%1").arg(server->port());
        entry.region = "us-east-1";
        entry.key = key;
        entry.localFilename = localFile;
        entry.disableSsl = !tls();
        entry.s3ForcePathStyle = true;
        return entry;
    }

    // The stored object, read back with an unsigned GET.
    QByteArray readBack(const QString& encodedKey, int* status = nullptr,
                        QList<QNetworkReply::RawHeaderPair>* headers = nullptr) {
        QByteArray body;
        QList<QNetworkReply::RawHeaderPair> received;
        int code = 0;
        httpGet(server->url("/bucket/" + encodedKey), body, received, code);
        if (status) *status = code;
        if (headers) *headers = received;
        return body;
    }

    // The keys of the bucket, as its listing gives them.
    QStringList storedKeys() {
        QByteArray body;
        QList<QNetworkReply::RawHeaderPair> headers;
        int status = 0;
        httpGet(server->url("/bucket?max-keys=1000"), body, headers, status);
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
        return QString::fromUtf8(readFile(data->filePath("requests.log")))
            .split('\n', Qt::SkipEmptyParts);
    }

    static QTemporaryDir* data;
    static ServerProcess* server;
    QTemporaryDir files;
};

QTemporaryDir* UploadToolTest::data = nullptr;
ServerProcess* UploadToolTest::server = nullptr;

TEST_F(UploadToolTest, SmallFileArrivesWithItsDownloadName) {
    const QString local = files.filePath("本地 文件.bin");
    ASSERT_TRUE(writeRandomFile(local, 1000, 5));
    OssUploader::OssEntry entry = entryFor(local, "目录/小 文件+1!.bin");
    entry.withUploadFile = true;
    entry.uploadFile = "报告 2024.bin";
    OssUploader uploader(entry, 3);
    const Outcome run = outcomeOf(uploader);
    ASSERT_TRUE(run.ok) << run.error;

    int status = 0;
    QList<QNetworkReply::RawHeaderPair> headers;
    const QByteArray stored =
        readBack("%E7%9B%AE%E5%BD%95/%E5%B0%8F%20%E6%96%87%E4%BB%B6%2B1%21.bin", &status, &headers);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(stored, readFile(local));
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
    ASSERT_TRUE(writeRandomFile(local, size, 6));
    OssUploader uploader(entryFor(local, "multi/big.bin"), 3);
    const Outcome run = outcomeOf(uploader);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(readBack("multi/big.bin"), readFile(local));

    const QStringList log = requests().filter("/bucket/multi/big.bin");
    EXPECT_EQ(log.filter(QRegExp("^PUT .*partNumber=\\d+&uploadId=")).size(), 3)
        << qPrintable(log.join('\n'));
    EXPECT_EQ(log.filter(QRegExp("^POST .*\\?uploads$")).size(), 1);
    EXPECT_EQ(log.filter(QRegExp("^POST .*\\?uploadId=")).size(), 1);
    for (const Report& progress : run.progress) {
        EXPECT_TRUE(std::stoi(progress[0]) >= 0 && std::stoi(progress[0]) <= 100);
        EXPECT_TRUE(QString::fromStdString(progress[1]).endsWith(QString("/%1").arg(size)));
    }
}

TEST_F(UploadToolTest, WrongCredentialsFailWithTheServersError) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString local = files.filePath("c.bin");
    ASSERT_TRUE(writeRandomFile(local, 100, 7));
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
        const Outcome run = outcomeOf(uploader);
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.error.find("HTTP状态 403"), std::string::npos) << run.error;
        EXPECT_NE(run.error.find(c.code), std::string::npos) << run.error;
        int status = 0;
        readBack("denied/" + c.ak + ".bin", &status);
        EXPECT_EQ(status, 404);
    }
}

TEST_F(UploadToolTest, MissingLocalFileFailsBeforeAnyRequest) {
    const QString local = files.filePath("不存在.bin");
    OssUploader uploader(entryFor(local, "missing/x.bin"), 1);
    const Outcome run = outcomeOf(uploader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find(local.toStdString()), std::string::npos) << run.error;
    EXPECT_TRUE(requests().filter("/missing/").isEmpty());
}

// An answer that goes on and on is cut off at a bound rather than kept whole,
// and fails the upload without another try.
TEST_F(UploadToolTest, EndlessAnswerIsCutOffAndFails) {
    const QString local = files.filePath("endless.bin");
    ASSERT_TRUE(writeRandomFile(local, 1000, 12));
    OssUploader uploader(entryFor(local, "endless-answer/e.bin"), 1);
    const Outcome run = outcomeOf(uploader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("网络错误: 服务器的响应超过 1024 KiB, 不再读取"), std::string::npos)
        << run.error;
    EXPECT_EQ(requests().filter("PUT /bucket/endless-answer/e.bin").size(), 1);
}

TEST_F(UploadToolTest, FailedPartAbortsTheMultipartUpload) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString local = files.filePath("big.bin");
    ASSERT_TRUE(writeRandomFile(local, 17 * 1024 * 1024, 8));
    // The server always fails part 2 of such keys.
    OssUploader uploader(entryFor(local, "inject-part-failure/big.bin"), 2);
    const Outcome run = outcomeOf(uploader);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("HTTP状态 500"), std::string::npos) << run.error;
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
        ASSERT_TRUE(writeRandomFile(local, c.size, 9));
        OssUploader uploader(entryFor(local, c.key), 3);
        const Outcome run = outcomeOf(uploader);
        ASSERT_TRUE(run.ok) << run.error;

        EXPECT_EQ(readBack(c.key), readFile(local)) << qPrintable(c.key);
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
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString local = files.filePath("pool.bin");
    // Seven parts, all sent at once; the server holds each for 300 ms.
    ASSERT_TRUE(writeRandomFile(local, 6 * S3Upload::kPartSize + 1, 10));
    OssUploader uploader(entryFor(local, "slow-parts/pool.bin"), 7);
    const Outcome run = outcomeOf(uploader);
    ASSERT_TRUE(run.ok) << run.error;
    int peak = 0;
    for (const QString& line : requests().filter(QRegExp("^INFLIGHT \\d+ /bucket/slow-parts/"))) {
        peak = std::max(peak, line.section(' ', 1, 1).toInt());
    }
    EXPECT_EQ(peak, 7);
    EXPECT_EQ(readBack("slow-parts/pool.bin"), readFile(local));
}

TEST_F(UploadToolTest, RequestTimeoutAndALostCompletionAnswerAreNoFailures) {
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
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
        ASSERT_TRUE(writeRandomFile(local, c.size, 11));
        OssUploader uploader(entryFor(local, c.key), 2);
        const Outcome run = outcomeOf(uploader);
        const qint64 ended = QDateTime::currentMSecsSinceEpoch();
        ASSERT_TRUE(run.ok) << run.error;
        EXPECT_EQ(readBack(c.key), readFile(local));
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
    if (windowsTools()) GTEST_SKIP() << kSameOnWindows;
    const QString local = files.filePath("stall.bin");
    ASSERT_TRUE(writeRandomFile(local, 2 * S3Upload::kPartSize + 5, 12));
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
                        {"disable_ssl", !tls()},
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
        EXPECT_EQ(readBack(key), readFile(local)) << qPrintable(key);
        const QString parts = "^PUT " + QRegExp::escape("/bucket/" + key) + "\\?partNumber=2&";
        EXPECT_EQ(requests().filter(QRegExp(parts)).size(), 2) << qPrintable(key);
    }
}

// A store whose certificate has expired is refused at once, with the host and
// the reason.
TEST_F(UploadToolTest, RefusedCertificateIsNamedAndNotTriedAgain) {
    ServerProcess refusing;
    QString error;
    ASSERT_TRUE(
        startHttpServer(refusing, files.path(), files.filePath("tls.log"), "expired.pem", error))
        << qPrintable(error);
    const QString local = files.filePath("refused.bin");
    ASSERT_TRUE(writeRandomFile(local, 1000, 13));
    OssUploader::OssEntry entry = entryFor(local, "refused.bin");
    entry.endpoint = QString("127.0.0.1:%1").arg(refusing.port());
    entry.disableSsl = false;
    OssUploader uploader(entry, 1);
    const Outcome run = outcomeOf(uploader, false);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error,
              "上传失败, 服务器证书验证失败, 拒绝连接 127.0.0.1: The certificate has expired");
    refusing.stop();
    EXPECT_EQ(readFile(files.filePath("tls.log")).count("TLS-REFUSED"), 1);
}

}  // namespace
