#include "verbatim_http_reply.h"

#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include "certificate_refusal.h"

namespace {

// Body bytes handed to the socket ahead of what it has sent: enough to keep
// the connection busy, little enough that upload progress means bytes sent.
const qint64 kSendWindow = 256 * 1024;
const qint64 kReadChunk = 64 * 1024;
const qint64 kReadBufferBytes = 256 * 1024;

QByteArray verbOf(QNetworkAccessManager::Operation operation, const QNetworkRequest& request) {
    switch (operation) {
        case QNetworkAccessManager::HeadOperation:
            return "HEAD";
        case QNetworkAccessManager::GetOperation:
            return "GET";
        case QNetworkAccessManager::PutOperation:
            return "PUT";
        case QNetworkAccessManager::PostOperation:
            return "POST";
        case QNetworkAccessManager::DeleteOperation:
            return "DELETE";
        default:
            return request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray();
    }
}

// The error Qt's own HTTP stack gives a reply with this status.
QNetworkReply::NetworkError errorOfStatus(int status) {
    switch (status) {
        case 400:
        case 418:
            return QNetworkReply::ProtocolInvalidOperationError;
        case 401:
            return QNetworkReply::AuthenticationRequiredError;
        case 403:
            return QNetworkReply::ContentAccessDenied;
        case 404:
            return QNetworkReply::ContentNotFoundError;
        case 405:
            return QNetworkReply::ContentOperationNotPermittedError;
        case 407:
            return QNetworkReply::ProxyAuthenticationRequiredError;
        case 409:
            return QNetworkReply::ContentConflictError;
        case 410:
            return QNetworkReply::ContentGoneError;
        case 500:
            return QNetworkReply::InternalServerError;
        case 501:
            return QNetworkReply::OperationNotImplementedError;
        case 503:
            return QNetworkReply::ServiceUnavailableError;
        default:
            return status > 500 ? QNetworkReply::UnknownServerError
                                : QNetworkReply::UnknownContentError;
    }
}

QNetworkReply::NetworkError errorOfSocket(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return QNetworkReply::ConnectionRefusedError;
        case QAbstractSocket::RemoteHostClosedError:
            return QNetworkReply::RemoteHostClosedError;
        case QAbstractSocket::HostNotFoundError:
            return QNetworkReply::HostNotFoundError;
        case QAbstractSocket::SocketTimeoutError:
            return QNetworkReply::TimeoutError;
        case QAbstractSocket::SslHandshakeFailedError:
            return QNetworkReply::SslHandshakeFailedError;
        default:
            return QNetworkReply::UnknownNetworkError;
    }
}

}  // namespace

VerbatimHttpReply::VerbatimHttpReply(QNetworkAccessManager::Operation operation,
                                     const QNetworkRequest& request, QIODevice* outgoing,
                                     QByteArray requestTarget, QObject* parent)
    : QNetworkReply(parent),
      verb(verbOf(operation, request)),
      requestTarget(std::move(requestTarget)),
      outgoing(outgoing),
      answer(verb == "HEAD") {
    setRequest(request);
    setOperation(operation);
    setUrl(request.url());
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (outgoing) {
        bodySize = outgoing->isSequential()
                       ? request.header(QNetworkRequest::ContentLengthHeader).toLongLong()
                       : outgoing->size() - outgoing->pos();
    } else if (verb == "PUT" || verb == "POST") {
        bodySize = 0;
    }
    // Failures, like answers, arrive from the event loop, after the caller has
    // connected to the reply.
    QTimer::singleShot(0, this, &VerbatimHttpReply::connectSocket);
}

VerbatimHttpReply::~VerbatimHttpReply() {
    if (socket) socket->disconnect(this);
}

void VerbatimHttpReply::connectSocket() {
    if (stage == Stage::Done) return;
    const QUrl target = url();
    const QString scheme = target.scheme().toLower();
    if ((scheme != "http" && scheme != "https") || target.host().isEmpty() || verb.isEmpty()) {
        failWith(ProtocolUnknownError, "无法发送请求: " + target.toString());
        return;
    }
    const bool secure = scheme == "https";
    const quint16 port = static_cast<quint16>(target.port(secure ? 443 : 80));
    if (secure) {
        if (!QSslSocket::supportsSsl()) {
            failWith(ProtocolUnknownError,
                     "无法加载 TLS 库, 无法发送 HTTPS 请求: " + target.toString());
            return;
        }
        // Certificate and host name are checked as the request's configuration
        // says (peer verification is Qt's default); a certificate error is
        // never ignored.
        auto* ssl = new QSslSocket;
        socket.reset(ssl);
        ssl->setSslConfiguration(request().sslConfiguration());
        connect(ssl, &QSslSocket::encrypted, this, &VerbatimHttpReply::sendHead);
        connect(ssl, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), this,
                [this, host = target.host()](const QList<QSslError>& errors) {
                    failWith(SslHandshakeFailedError, CertificateRefusal::describe(host, errors));
                });
    } else {
        socket = std::make_unique<QTcpSocket>();
        connect(socket.get(), &QTcpSocket::connected, this, &VerbatimHttpReply::sendHead);
    }
    // What the socket holds ahead of the reader stays bounded.
    socket->setReadBufferSize(kReadBufferBytes);
    connect(socket.get(), &QTcpSocket::readyRead, this, &VerbatimHttpReply::onReadyRead);
    connect(socket.get(), &QTcpSocket::disconnected, this, &VerbatimHttpReply::onDisconnected);
    connect(socket.get(), &QTcpSocket::bytesWritten, this, [this](qint64 written) {
        const qint64 head = std::min(written, headBytesLeft);
        headBytesLeft -= head;
        if (written > head) {
            bodySent += written - head;
            emit uploadProgress(bodySent, bodySize);
        }
        sendBody();
    });
    connect(socket.get(), &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::RemoteHostClosedError) {
                    onDisconnected();
                } else {
                    failWith(errorOfSocket(error), socket->errorString());
                }
            });
    if (auto* ssl = qobject_cast<QSslSocket*>(socket.get())) {
        ssl->connectToHostEncrypted(target.host(), port);
        return;
    }
    socket->connectToHost(target.host(), port);
}

void VerbatimHttpReply::sendHead() {
    if (stage != Stage::Connecting) return;
    stage = Stage::Exchanging;
    const QNetworkRequest sent = request();
    QByteArray head = verb + ' ' + requestTarget + " HTTP/1.1\r\n";
    QByteArray host = sent.rawHeader("Host");
    if (host.isEmpty()) {
        const QUrl target = url();
        host = target.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':')) host = '[' + host + ']';
        if (target.port() != -1) host += ':' + QByteArray::number(target.port());
    }
    head += "Host: " + host + "\r\n";
    for (const QByteArray& name : sent.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower == "host" || lower == "content-length" || lower == "connection") continue;
        head += name + ": " + sent.rawHeader(name) + "\r\n";
    }
    if (bodySize >= 0) head += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
    head += "Connection: close\r\n\r\n";
    headBytesLeft = head.size();
    socket->write(head);
    sendBody();
}

void VerbatimHttpReply::sendBody() {
    if (stage == Stage::Done || !outgoing) return;
    while (bodyRead < bodySize && socket->bytesToWrite() < kSendWindow) {
        const QByteArray chunk = outgoing->read(std::min(kReadChunk, bodySize - bodyRead));
        if (chunk.isEmpty()) {
            failWith(UnknownContentError, "读取请求的内容失败: " + outgoing->errorString());
            return;
        }
        bodyRead += chunk.size();
        socket->write(chunk);
    }
}

void VerbatimHttpReply::onReadyRead() {
    if (stage == Stage::Done) return;
    answer.append(socket->readAll());
    readAnswer();
}

void VerbatimHttpReply::readAnswer() {
    // A receiver of the signals may abort the reply at any step.
    while (stage != Stage::Done) {
        switch (answer.next()) {
            case HttpAnswerReader::Step::More:
                return;
            case HttpAnswerReader::Step::Head:
                takeHead();
                break;
            case HttpAnswerReader::Step::Body:
                deliver(answer.takeBody());
                break;
            case HttpAnswerReader::Step::Complete:
                complete();
                return;
            case HttpAnswerReader::Step::Failed:
                failWith(ProtocolFailure, answer.error());
                return;
        }
    }
}

void VerbatimHttpReply::takeHead() {
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, answer.status());
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(answer.reason()));
    for (const auto& header : answer.headers()) {
        if (header.first.toLower() == "location" && answer.status() / 100 == 3) {
            setAttribute(QNetworkRequest::RedirectionTargetAttribute,
                         QUrl::fromEncoded(header.second, QUrl::TolerantMode));
        }
        const QByteArray earlier = rawHeader(header.first);
        setRawHeader(header.first,
                     earlier.isEmpty() ? header.second : earlier + ", " + header.second);
    }
    emit metaDataChanged();
}

void VerbatimHttpReply::onDisconnected() {
    if (stage == Stage::Done) return;
    if (socket->bytesAvailable() > 0) onReadyRead();
    if (stage == Stage::Done) return;
    if (answer.close() == HttpAnswerReader::Step::Complete) {
        complete();
    } else {
        failWith(RemoteHostClosedError, answer.error());
    }
}

void VerbatimHttpReply::deliver(const QByteArray& data) {
    if (readPos > 0) {
        readable.remove(0, static_cast<int>(readPos));
        readPos = 0;
    }
    readable += data;
    received += data.size();
    const QVariant length = header(QNetworkRequest::ContentLengthHeader);
    emit readyRead();
    emit downloadProgress(received, length.isValid() ? length.toLongLong() : -1);
}

void VerbatimHttpReply::complete() {
    if (stage == Stage::Done) return;
    const int status = attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        stage = Stage::Done;
        setError(errorOfStatus(status),
                 QString("Error transferring %1 - server replied: %2")
                     .arg(url().toString(),
                          attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
        emit errorOccurred(error());
    }
    finishNow();
}

void VerbatimHttpReply::failWith(NetworkError code, const QString& text) {
    if (stage == Stage::Done) return;
    stage = Stage::Done;
    setError(code, text);
    emit errorOccurred(code);
    finishNow();
}

void VerbatimHttpReply::abort() {
    if (stage == Stage::Done) return;
    readable.clear();
    readPos = 0;
    failWith(OperationCanceledError, "Operation canceled");
}

void VerbatimHttpReply::finishNow() {
    stage = Stage::Done;
    if (socket) {
        socket->disconnect(this);
        socket->abort();
    }
    setFinished(true);
    emit finished();
}

qint64 VerbatimHttpReply::bytesAvailable() const {
    return readable.size() - readPos + QNetworkReply::bytesAvailable();
}

qint64 VerbatimHttpReply::readData(char* data, qint64 maxSize) {
    // Read in small pieces (QIODevice::readAll takes 16 KiB at a time), the
    // rest is not moved up each time: an offset runs through it.
    const qint64 n = std::min<qint64>(maxSize, readable.size() - readPos);
    if (n == 0) return isFinished() ? -1 : 0;
    std::copy(readable.constData() + readPos, readable.constData() + readPos + n, data);
    readPos += n;
    if (readPos == readable.size()) {
        readable.clear();
        readPos = 0;
    }
    return n;
}
