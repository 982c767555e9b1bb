#include "utils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "files.h"
#include "network.h"
#include "platform.h"

namespace {

using TestSupport::programFileName;
using TestSupport::readFile;
using TestSupport::writeFile;

// --- files ---

class SimpleFiles : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString path(const QString& rel) const { return tmp.filePath(rel); }
};

TEST_F(SimpleFiles, ReadKeepsEverythingUpToTheFirstNul) {
    QString error = "earlier error";
    QString content = "old";
    writeFile(path("empty"), "");
    ASSERT_TRUE(Utils::readSimpleFile(path("empty"), error, content));
    EXPECT_TRUE(content.isEmpty());

    writeFile(path("sidecar dat"), "0123abcd\r\n ");
    ASSERT_TRUE(Utils::readSimpleFile(path("sidecar dat"), error, content));
    EXPECT_EQ(content, "0123abcd\r\n ");  // raw bytes, no trimming, no newline translation

    writeFile(path("with nul"), QByteArray("版本\0after", 12));
    ASSERT_TRUE(Utils::readSimpleFile(path("with nul"), error, content));
    EXPECT_EQ(content, "版本");

    writeFile(path("bad utf8"),
              "a\xff"
              "b");
    ASSERT_TRUE(Utils::readSimpleFile(path("bad utf8"), error, content));
    EXPECT_EQ(content, QString("a") + QChar(QChar::ReplacementCharacter) + "b");

    EXPECT_EQ(error, "earlier error");  // success never clears an earlier failure
}

TEST_F(SimpleFiles, ReadFailureNamesTheOpenAndKeepsContent) {
    QString error;
    QString content = "kept";
    EXPECT_FALSE(Utils::readSimpleFile(path("missing"), error, content));
    EXPECT_TRUE(error.startsWith("文件打开失败: ")) << error.toStdString();
    EXPECT_GT(error.size(), QString("文件打开失败: ").size());
    EXPECT_EQ(content, "kept");
}

TEST_F(SimpleFiles, ReadFailureAfterTheOpenNamesTheRead) {
    if (TestSupport::onWindows()) GTEST_SKIP() << "/proc, whose files fail to read, is Linux's";
    QString error;
    QString content = "kept";
    // Opens fine, then every read fails (EIO): the read's own error decides.
    EXPECT_FALSE(Utils::readSimpleFile("/proc/self/mem", error, content));
    EXPECT_TRUE(error.startsWith("文件读取失败: ")) << error.toStdString();
    EXPECT_FALSE(error.endsWith("Unknown error")) << error.toStdString();
    EXPECT_EQ(content, "kept");
}

TEST_F(SimpleFiles, WriteCreatesFoldersAndReplacesWholeFiles) {
    QString error;
    ASSERT_TRUE(Utils::simpleWriteFile(path("new 文件夹/deep/f.bin"), "abc", error));
    EXPECT_EQ(readFile(path("new 文件夹/deep/f.bin")), "abc");

    writeFile(path("long"), QByteArray(1000, 'x'));
    ASSERT_TRUE(Utils::simpleWriteFile(path("long"), "short", error));
    EXPECT_EQ(readFile(path("long")), "short");

    ASSERT_TRUE(Utils::simpleWriteFile(path("empty"), QByteArray(), error));
    EXPECT_TRUE(QFileInfo(path("empty")).isFile());
    EXPECT_EQ(QFileInfo(path("empty")).size(), 0);
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(SimpleFiles, WriteFailuresAreReported) {
    QString error;
    QDir().mkpath(path("a folder"));
    EXPECT_FALSE(Utils::simpleWriteFile(path("a folder"), "x", error));
    EXPECT_TRUE(error.startsWith("文件打开失败: ")) << error.toStdString();
}

TEST_F(SimpleFiles, WriteToAFullDiskIsReported) {
    if (TestSupport::onWindows()) GTEST_SKIP() << "/dev/full, a disk always full, is Linux's";
    // A full disk: the write must not be reported as done.
    QString error;
    EXPECT_FALSE(Utils::simpleWriteFile("/dev/full", QByteArray(100000, 'x'), error));
    EXPECT_TRUE(error.startsWith("文件写入失败, 写入的长度 ")) << error.toStdString();
    EXPECT_TRUE(error.contains(" 数据长度 100000 ")) << error.toStdString();
    // The cause is the write's, not what is left after closing.
    EXPECT_TRUE(error.endsWith(" No space left on device")) << error.toStdString();
    error.clear();
    EXPECT_FALSE(Utils::simpleWriteFile("/dev/full", "small", error));
    EXPECT_TRUE(error.contains(" 数据长度 5 ")) << error.toStdString();
    EXPECT_TRUE(error.endsWith(" No space left on device")) << error.toStdString();
}

// --- HTTP ---

// Answers every request with a canned raw response, then closes. The response
// may depend on the request's head. With a certificate (see
// TestSupport::certificatePath) it speaks TLS.
class CannedHttpServer : public QTcpServer {
public:
    using Responder = std::function<QByteArray(const QByteArray& request)>;
    explicit CannedHttpServer(QByteArray response, const QString& certificate = QString())
        : CannedHttpServer([response](const QByteArray&) { return response; }, certificate) {}
    explicit CannedHttpServer(Responder respond, const QString& certificate = QString())
        : respond(std::move(respond)), certificate(certificate) {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request += socket->readAll();
                    if (!request.contains("\r\n\r\n")) return;
                    socket->write(this->respond(request));
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString& path = "/file") const {
        return QString("%1://127.0.0.1:%2%3")
            .arg(certificate.isEmpty() ? "http" : "https")
            .arg(serverPort())
            .arg(path);
    }
    QByteArray request;

protected:
    void incomingConnection(qintptr descriptor) override {
        if (certificate.isEmpty()) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(TestSupport::certificatePath(certificate));
        QFile key(TestSupport::certificatePath("server.key"));
        key.open(QIODevice::ReadOnly);
        socket->setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        // A client that refuses the certificate ends the connection.
        connect(socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), socket,
                [socket] { socket->ignoreSslErrors(); });
        addPendingConnection(socket);
        socket->startServerEncryption();
    }

private:
    Responder respond;
    QString certificate;
};

// The value of one request header, or "" when the request has none.
QByteArray headerValue(const QByteArray& request, const QByteArray& name) {
    for (const QByteArray& line : request.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return QByteArray();
}

TEST(SimpleHttp, CompleteReplyWithLength) {
    CannedHttpServer server(
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello");
    QByteArray body = "old";
    QString error = "earlier";
    ASSERT_TRUE(Utils::simpleHttpGet(server.url("/a path/ä"), body, error));
    EXPECT_EQ(body, "hello");
    EXPECT_EQ(error, "earlier");
    EXPECT_TRUE(server.request.startsWith("GET /a%20path/%C3%A4 HTTP/1.1\r\n"))
        << server.request.toStdString();
}

TEST(SimpleHttp, BodyArrivesAsStoredFromAServerThatCompresses) {
    const QByteArray stored = QByteArray("a line that compresses well\n").repeated(50);
    const QByteArray deflated = qCompress(stored).mid(4);  // zlib stream without Qt's prefix
    CannedHttpServer server([&](const QByteArray& request) -> QByteArray {
        const QByteArray accepted = headerValue(request, "Accept-Encoding");
        if (accepted.contains("gzip") || accepted.contains("deflate")) {
            return "HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: " +
                   QByteArray::number(deflated.size()) + "\r\nConnection: close\r\n\r\n" + deflated;
        }
        return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(stored.size()) +
               "\r\nConnection: close\r\n\r\n" + stored;
    });
    QByteArray body;
    QString error;
    EXPECT_TRUE(Utils::simpleHttpGet(server.url(), body, error)) << error.toStdString();
    EXPECT_EQ(body, stored);
    EXPECT_TRUE(error.isEmpty());

    QTemporaryDir tmp;
    EXPECT_TRUE(Utils::simpleDownloadFile(server.url(), tmp.filePath("f.txt"), error))
        << error.toStdString();
    EXPECT_EQ(readFile(tmp.filePath("f.txt")), stored);
}

// A request that fails, by its status or by a refused connection.
TEST(SimpleHttp, FailedRequestLeavesBodyAlone) {
    CannedHttpServer notFound(
        "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
    quint16 refusingPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        refusingPort = probe.serverPort();
    }
    for (const QString& url :
         {notFound.url(), QString("http://127.0.0.1:%1/x").arg(refusingPort)}) {
        SCOPED_TRACE(url.toStdString());
        QByteArray body = "untouched";
        QString error;
        EXPECT_FALSE(Utils::simpleHttpGet(url, body, error));
        EXPECT_TRUE(error.startsWith("请求失败: ")) << error.toStdString();
        EXPECT_EQ(body, "untouched");
    }
}

TEST(SimpleHttp, MissingLengthFailsButDeliversTheBody) {
    CannedHttpServer server("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody-bytes");
    QByteArray body;
    QString error;
    EXPECT_FALSE(Utils::simpleHttpGet(server.url(), body, error));
    EXPECT_TRUE(error.startsWith("返回数据读取失败, 接收到的数据长度 10 响应的长度 0 "))
        << error.toStdString();
    EXPECT_EQ(body, "body-bytes");

    CannedHttpServer chunked(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: "
        "close\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
    EXPECT_FALSE(Utils::simpleHttpGet(chunked.url(), body, error));
    EXPECT_EQ(body, "abc");

    CannedHttpServer empty("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(Utils::simpleHttpGet(empty.url(), body, error));
    EXPECT_TRUE(body.isEmpty());
}

// Answers whose framing is broken: none is a body, though Qt's stack ends some
// of them as if complete.
TEST(SimpleHttp, BrokenFramingFails) {
    for (const TestSupport::BrokenAnswer& answer : TestSupport::brokenAnswers()) {
        SCOPED_TRACE(answer.name);
        CannedHttpServer server(answer.bytes);
        QByteArray body;
        QString error;
        EXPECT_FALSE(Utils::simpleHttpGet(server.url(), body, error)) << body.constData();
        EXPECT_TRUE(error.startsWith("请求失败: ") || error.startsWith("返回数据读取失败, "))
            << error.toStdString();
        QTemporaryDir tmp;
        EXPECT_FALSE(Utils::simpleDownloadFile(server.url(), tmp.filePath("f.bin"), error));
        EXPECT_FALSE(QFileInfo::exists(tmp.filePath("f.bin")));
    }
}

// Certificate and host name are checked; a refusal names the host and reasons.
TEST(SimpleHttp, HttpsVerifiesTheServer) {
    ASSERT_TRUE(TestSupport::trustTestAuthority());
    const QByteArray answer =
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello";
    CannedHttpServer trusted(answer, "good.pem");
    QByteArray body;
    QString error;
    EXPECT_TRUE(Utils::simpleHttpGet(trusted.url(), body, error)) << error.toStdString();
    EXPECT_EQ(body, "hello");
    for (const TestSupport::RefusedCertificate& refused : TestSupport::refusedCertificates()) {
        CannedHttpServer server(answer, refused.certificate);
        body = "untouched";
        EXPECT_FALSE(Utils::simpleHttpGet(server.url(), body, error));
        EXPECT_EQ(
            error.toStdString(),
            std::string("请求失败: 服务器证书验证失败, 拒绝连接 127.0.0.1: ") + refused.reasons);
        EXPECT_EQ(body, "untouched");
    }
}

TEST(SimpleHttp, DownloadWritesOnlyAfterASuccessfulGet) {
    QTemporaryDir tmp;
    QString error;
    CannedHttpServer ok("HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\npayload");
    ASSERT_TRUE(Utils::simpleDownloadFile(ok.url(), tmp.filePath("new dir/文件.bin"), error));
    EXPECT_EQ(readFile(tmp.filePath("new dir/文件.bin")), "payload");

    CannedHttpServer missing(
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_FALSE(Utils::simpleDownloadFile(missing.url(), tmp.filePath("other/f.bin"), error));
    EXPECT_TRUE(error.startsWith("请求失败: "));
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("other")));
}

TEST(SimpleHttp, DownloadToAFullDiskIsReported) {
    if (TestSupport::onWindows()) GTEST_SKIP() << "/dev/full, a disk always full, is Linux's";
    CannedHttpServer ok("HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\npayload");
    QString error;
    EXPECT_FALSE(Utils::simpleDownloadFile(ok.url(), "/dev/full", error));
    EXPECT_TRUE(error.startsWith("文件写入失败, 写入的长度 ")) << error.toStdString();
    EXPECT_TRUE(error.endsWith(" No space left on device")) << error.toStdString();
}

// --- commands ---

// Places the scripted tool at `path`, following `plan` (see scripted_tool.cpp).
void placeScriptedTool(const QString& path, const QByteArray& plan) {
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        ASSERT_TRUE(QFile::copy(SCRIPTED_TOOL, path));
    }
    writeFile(path + ".plan", plan);
}

TEST(SimpleCommand, ReturnsStandardOutputAsUtf8UpToNul) {
    QTemporaryDir tmp;
    const QString tool = tmp.filePath(programFileName("a tool"));
    placeScriptedTool(tool, "out out 输出\nerr err");
    EXPECT_EQ(Utils::runSimpleCommand(tool, {}), "out 输出");
    placeScriptedTool(tool, "out a\\377b");
    EXPECT_EQ(Utils::runSimpleCommand(tool, {}),
              QString("a") + QChar(QChar::ReplacementCharacter) + "b");
    placeScriptedTool(tool, "out before\\000after");
    EXPECT_EQ(Utils::runSimpleCommand(tool, {}), "before");
    // Arguments with blanks arrive as one argument each.
    Utils::runSimpleCommand(tool, {"a b", "c"});
    EXPECT_TRUE(readFile(tool + ".calls").endsWith("\037a b\037c\n"));
}

TEST(SimpleCommand, MissingProgramGivesEmptyTextAtOnce) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(Utils::runSimpleCommand("no-such-program-here", {"x"}), "");
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(SimpleCommand, BareNamesAreFoundBesideTheProgramFirst) {
    QTemporaryDir tmp;
    const QString app = tmp.filePath("app dir");
    const QString child = app + "/" + programFileName("child");
    QDir().mkpath(app);
    ASSERT_TRUE(QFile::copy(FOUNDATION_CHILD, child));
    placeScriptedTool(app + "/" + programFileName("pvl_probe"), "out beside");
    placeScriptedTool(tmp.filePath("bin/" + programFileName("pvl_probe")), "out in path");

    auto runChild = [&] {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", QDir::toNativeSeparators(tmp.filePath("bin")) + QDir::listSeparator() +
                               env.value("PATH"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(tmp.path());
        process.start(child, {"run", "pvl_probe"});
        process.waitForFinished(10000);
        return process.readAllStandardOutput();
    };
    EXPECT_EQ(runChild(), "beside");
    QFile::remove(app + "/" + programFileName("pvl_probe"));
    EXPECT_EQ(runChild(), "in path");
}

}  // namespace
