#include "verbatim_http_reply.h"

#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cctype>

#include "certificate_refusal.h"

namespace {

// Body bytes handed to the socket ahead of what it has sent: enough to keep
// the connection busy, little enough that upload progress means bytes sent.
const qint64 kSendWindow = 256 * 1024;
const qint64 kReadChunk = 64 * 1024;
const qint64 kReadBufferBytes = 256 * 1024;
// Limits on what a server may send before the body and between chunks: past
// them the answer is refused at once instead of kept and searched.
const int kMaxHeadBytes = 64 * 1024;  // status lines and headers, interim answers included
const int kMaxLineBytes = 4 * 1024;   // a chunk-size line or a line after a chunk
const int kMaxTrailerBytes = 64 * 1024;
// More hexadecimal digits than this (after leading zeros) is no chunk size a
// file can have, and would overflow.
const int kMaxChunkSizeDigits = 15;

// A "Content-Length" value: decimal digits only, and every value the same when
// the header came more than once. A sign, blanks inside or two lengths leave
// the body's end unknown.
bool parseContentLength(const QByteArray& value, qint64& length) {
    qint64 found = -1;
    for (const QByteArray& piece : value.split(',')) {
        const QByteArray digits = piece.trimmed();
        if (digits.isEmpty() || digits.size() > 18) return false;
        for (const char c : digits) {
            if (c < '0' || c > '9') return false;
        }
        const qint64 number = digits.toLongLong();
        if (found >= 0 && number != found) return false;
        found = number;
    }
    length = found;
    return true;
}

// The size on a chunk-size line: hexadecimal digits, then optional extensions
// after ";".
bool parseChunkSize(const QByteArray& line, qint64& size) {
    QByteArray digits = line.left(line.indexOf(';') < 0 ? line.size() : line.indexOf(';'));
    digits = digits.trimmed();
    int zeros = 0;
    while (zeros + 1 < digits.size() && digits[zeros] == '0') ++zeros;
    if (digits.isEmpty() || digits.size() - zeros > kMaxChunkSizeDigits) return false;
    for (const char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    size = digits.mid(zeros).toLongLong(nullptr, 16);
    return true;
}

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
      outgoing(outgoing) {
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
    stage = Stage::Head;
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
    incoming += socket->readAll();
    if (stage == Stage::Connecting || stage == Stage::Head) {
        if (!parseHead()) return;
    }
    if (stage == Stage::Body) {
        const qint64 take =
            expected < 0 ? incoming.size() : std::min<qint64>(expected, incoming.size());
        if (take > 0) {
            deliverFromIncoming(take);
            if (expected > 0) expected -= take;
        }
        if (expected == 0) complete();
    } else if (stage == Stage::Chunked) {
        if (parseChunked()) complete();
    }
}

// Reads the status line and headers once they are all there; skips interim
// (1xx) answers. False while more is needed or after a failure.
bool VerbatimHttpReply::parseHead() {
    for (;;) {
        // What has been searched already is not searched again.
        const int end = incoming.indexOf("\r\n\r\n", std::max(0, scanned - 3));
        if (end < 0) scanned = incoming.size();
        if (headBytes + (end < 0 ? incoming.size() : end + 4) > kMaxHeadBytes) {
            failWith(ProtocolFailure,
                     QString("服务器的响应头超过 %1 KiB, 不再读取").arg(kMaxHeadBytes / 1024));
            return false;
        }
        if (end < 0) return false;
        headBytes += end + 4;
        scanned = 0;
        const QList<QByteArray> lines = incoming.left(end).split('\n');
        incoming.remove(0, end + 4);
        const QList<QByteArray> status = lines.first().trimmed().split(' ');
        bool numeric = false;
        const int code = status.size() >= 2 ? status[1].toInt(&numeric) : 0;
        if (!status.first().startsWith("HTTP/1.") || !numeric || code < 100 || code > 999) {
            failWith(ProtocolFailure,
                     "服务器的响应不是 HTTP: " + QString::fromLatin1(lines.first()));
            return false;
        }
        if (code < 200) continue;

        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, code);
        const int reasonStart = lines.first().indexOf(' ', lines.first().indexOf(' ') + 1);
        const QByteArray reason =
            reasonStart < 0 ? QByteArray() : lines.first().mid(reasonStart + 1).trimmed();
        setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(reason));
        bool chunked = false;
        qint64 length = -1;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon <= 0) continue;
            const QByteArray name = lines[i].left(colon).trimmed();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            const QByteArray lower = name.toLower();
            if (lower == "transfer-encoding") chunked = value.toLower().contains("chunked");
            if (lower == "content-length" &&
                (!parseContentLength(value, length) ||
                 (!rawHeader(name).isEmpty() && rawHeader(name) != value))) {
                failWith(ProtocolFailure,
                         "服务器的响应长度无效: Content-Length: " + QString::fromLatin1(value));
                return false;
            }
            if (lower == "location" && code / 100 == 3) {
                setAttribute(QNetworkRequest::RedirectionTargetAttribute,
                             QUrl::fromEncoded(value, QUrl::TolerantMode));
            }
            const QByteArray earlier = rawHeader(name);
            setRawHeader(name, earlier.isEmpty() ? value : earlier + ", " + value);
        }
        emit metaDataChanged();
        if (stage == Stage::Done) return false;  // aborted by a receiver

        if (verb == "HEAD" || code == 204 || code == 304) {
            expected = 0;
            stage = Stage::Body;
        } else if (chunked) {
            stage = Stage::Chunked;
        } else {
            expected = length;
            stage = Stage::Body;
        }
        return true;
    }
}

// True once the last chunk and the trailers have arrived.
bool VerbatimHttpReply::parseChunked() {
    for (;;) {
        if (stage == Stage::Done) return false;
        if (chunkPart == ChunkPart::Data) {
            const qint64 take = std::min<qint64>(chunkLeft, incoming.size());
            if (take > 0) {
                deliverFromIncoming(take);
                chunkLeft -= take;
            }
            if (chunkLeft > 0) return false;
            chunkPart = ChunkPart::DataEnd;
            continue;
        }
        const int end = incoming.indexOf("\r\n", std::max(0, scanned - 1));
        if (end < 0) scanned = incoming.size();
        if ((end < 0 ? incoming.size() : end) > kMaxLineBytes) {
            failWith(ProtocolFailure,
                     QString("服务器的分块编码无效: 一行超过 %1 字节").arg(kMaxLineBytes));
            return false;
        }
        if (end < 0) return false;
        scanned = 0;
        const QByteArray line = incoming.left(end);
        incoming.remove(0, end + 2);
        if (chunkPart == ChunkPart::DataEnd) {
            if (!line.isEmpty()) {
                failWith(ProtocolFailure, "服务器的分块编码无效: 数据块后面没有换行");
                return false;
            }
            chunkPart = ChunkPart::SizeLine;
        } else if (chunkPart == ChunkPart::Trailer) {
            if (line.isEmpty()) return true;
            trailerBytes += end + 2;
            if (trailerBytes > kMaxTrailerBytes) {
                failWith(
                    ProtocolFailure,
                    QString("服务器的分块编码无效: 尾部超过 %1 KiB").arg(kMaxTrailerBytes / 1024));
                return false;
            }
        } else {
            if (!parseChunkSize(line, chunkLeft)) {
                failWith(ProtocolFailure,
                         "服务器的分块编码无效: 数据块长度 " + QString::fromLatin1(line.left(64)));
                return false;
            }
            chunkPart = chunkLeft == 0 ? ChunkPart::Trailer : ChunkPart::Data;
        }
    }
}

void VerbatimHttpReply::onDisconnected() {
    if (stage == Stage::Done) return;
    if (socket->bytesAvailable() > 0) onReadyRead();
    if (stage == Stage::Done) return;
    // Without a length the body ends with the connection.
    if (stage == Stage::Body && expected < 0) {
        complete();
        return;
    }
    failWith(RemoteHostClosedError, stage == Stage::Connecting || stage == Stage::Head
                                        ? "服务器没有响应就关闭了连接"
                                        : "服务器在响应中途关闭了连接");
}

void VerbatimHttpReply::deliverFromIncoming(qint64 take) {
    // The whole of `incoming` is handed on shared, not copied: most reads of
    // a body are nothing but body.
    if (take == incoming.size()) {
        const QByteArray data = std::move(incoming);
        incoming = QByteArray();
        deliver(data);
        return;
    }
    const QByteArray data = incoming.left(static_cast<int>(take));
    incoming.remove(0, static_cast<int>(take));
    deliver(data);
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
