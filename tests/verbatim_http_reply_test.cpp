// The transfer tools' HTTP exchange that sends a path as written, and the
// network manager that hands it the requests whose paths hold dot segments.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include "verbatim_network_manager.h"

namespace {

TEST(VerbatimNetworkManager, SendsItselfOnlyPathsWithDotSegments) {
    for (const char* dotted :
         {"/b/./k", "/b/../k", "/b/k/.", "/b/k/..", "/b/%2E/k", "/b/%2e%2E", "/b/.%2e/k?x=1"}) {
        EXPECT_TRUE(VerbatimNetworkManager::hasDotSegments(dotted)) << dotted;
    }
    for (const char* plain : {"/b/k", "/b/.k", "/b/k..", "/b/.../k", "/b//k", "/b/k?a=/../"}) {
        EXPECT_FALSE(VerbatimNetworkManager::hasDotSegments(plain)) << plain;
    }
}

// A server on 127.0.0.1 that reads one request and answers with `answer`,
// then closes the connection, or with `holdOpen` keeps it open.
class CannedServer {
public:
    explicit CannedServer(QByteArray answer, bool holdOpen = false) {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this, answer, holdOpen] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, answer, holdOpen] {
                request += socket->readAll();
                const bool whole =
                    request.contains("\r\n\r\n") &&
                    (!request.contains("Content-Length") || request.endsWith("body"));
                if (!whole) return;
                socket->write(answer);
                if (!holdOpen) socket->disconnectFromHost();
            });
        });
    }
    QString url(const QString& path) const {
        return QString("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }
    QTcpServer server;
    QByteArray request;
};

struct ExchangeCase {
    QByteArray method;
    QByteArray answer;
    int status;
    QNetworkReply::NetworkError error;
    QByteArray body;
    // The answer's end never comes: the reply must end on its own.
    bool holdOpen = false;
    QByteArray xAnswer = "a, b";
};

class VerbatimHttpReplyTest : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(VerbatimHttpReplyTest, SendsThePathAsWrittenAndReadsTheAnswer) {
    const ExchangeCase& c = GetParam();
    CannedServer server(c.answer, c.holdOpen);
    VerbatimNetworkManager manager;
    QNetworkRequest request(QUrl(server.url("/b/./x/../k")));
    request.setRawHeader("X-Test", "1");
    QNetworkReply* reply = c.method == "PUT" ? manager.put(request, QByteArray("body"))
                                             : manager.sendCustomRequest(request, c.method);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(reply->isFinished());
    EXPECT_TRUE(server.request.startsWith(c.method + " /b/./x/../k HTTP/1.1\r\n"))
        << server.request.constData();
    EXPECT_TRUE(server.request.contains("\r\nX-Test: 1\r\n"));
    if (c.method == "PUT") {
        EXPECT_TRUE(server.request.endsWith("Content-Length: 4\r\nConnection: close\r\n\r\nbody"));
    }
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), c.status);
    EXPECT_EQ(reply->error(), c.error) << qPrintable(reply->errorString());
    EXPECT_EQ(reply->readAll(), c.body);
    EXPECT_EQ(reply->rawHeader("X-Answer"), c.xAnswer);
    delete reply;
}

QByteArray repeated(const QByteArray& piece, int count) {
    QByteArray all;
    for (int i = 0; i < count; ++i) all += piece;
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VerbatimHttpReplyTest,
    ::testing::Values(
        ExchangeCase{"PUT",
                     "HTTP/1.1 200 OK\r\nX-Answer: a\r\nX-Answer: b\r\n"
                     "Content-Length: 5\r\n\r\nhello",
                     200, QNetworkReply::NoError, "hello"},
        ExchangeCase{"GET",
                     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nX-Answer: a, b\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n3;x=y\r\nhel\r\n2\r\nlo\r\n"
                     "0\r\nTrailer: t\r\n\r\n",
                     200, QNetworkReply::NoError, "hello"},
        ExchangeCase{"GET", "HTTP/1.1 200 OK\r\nX-Answer: a, b\r\n\r\nuntil the end", 200,
                     QNetworkReply::NoError, "until the end"},
        ExchangeCase{"HEAD", "HTTP/1.1 200 OK\r\nX-Answer: a, b\r\nContent-Length: 99\r\n\r\n", 200,
                     QNetworkReply::NoError, ""},
        ExchangeCase{"DELETE",
                     "HTTP/1.1 404 Not Found\r\nX-Answer: a, b\r\n"
                     "Content-Length: 4\r\n\r\ngone",
                     404, QNetworkReply::ContentNotFoundError, "gone"},
        ExchangeCase{"GET", "HTTP/1.1 200 OK\r\nX-Answer: a, b\r\nContent-Length: 10\r\n\r\ncut",
                     200, QNetworkReply::RemoteHostClosedError, "cut"},
        // A long head within the limits is read whole.
        ExchangeCase{"GET",
                     "HTTP/1.1 200 OK\r\nX-Answer: a, b\r\n" +
                         repeated("X-Pad: " + QByteArray(1000, 'p') + "\r\n", 60) +
                         "Content-Length: 5\r\n\r\nhello",
                     200, QNetworkReply::NoError, "hello"},
        // A length that is no number, or two that differ, frame nothing: the
        // answer is refused, not taken as empty or as read to the end.
        ExchangeCase{"GET", "HTTP/1.1 200 OK\r\nX-Answer: a\r\nContent-Length: abc\r\n\r\nabc", 0,
                     QNetworkReply::ProtocolFailure, "", false, ""},
        ExchangeCase{"GET", "HTTP/1.1 200 OK\r\nX-Answer: a\r\nContent-Length: -5\r\n\r\nabc", 0,
                     QNetworkReply::ProtocolFailure, "", false, ""},
        ExchangeCase{"GET", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
                     0, QNetworkReply::ProtocolFailure, "", false, ""},
        // Endless headers, interim answers, chunk-size line or trailers from a
        // hostile server end the reply at once.
        ExchangeCase{"GET", "HTTP/1.1 200 OK\r\n" + repeated("X-Answer: a\r\n", 6000), 0,
                     QNetworkReply::ProtocolFailure, "", true, ""},
        ExchangeCase{"GET", repeated("HTTP/1.1 100 Continue\r\n\r\n", 3000), 0,
                     QNetworkReply::ProtocolFailure, "", true, ""},
        ExchangeCase{"GET",
                     "HTTP/1.1 200 OK\r\nX-Answer: a, b\r\nTransfer-Encoding: chunked\r\n\r\n1" +
                         QByteArray(5000, '0'),
                     200, QNetworkReply::ProtocolFailure, "", true},
        ExchangeCase{"GET",
                     "HTTP/1.1 200 OK\r\nX-Answer: a, b\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "2\r\nhe\r\n0\r\n" +
                         repeated("Trailer: t\r\n", 6000),
                     200, QNetworkReply::ProtocolFailure, "he", true}));

}  // namespace
