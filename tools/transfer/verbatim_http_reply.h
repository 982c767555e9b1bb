#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>

#include <memory>

class QIODevice;
class QTcpSocket;

// One HTTP/1.1 exchange on a connection of its own, with the request line
// carrying `requestTarget` exactly as given. Qt's own HTTP stack resolves "."
// and ".." segments of every path (after decoding "%2E"), which changes the
// resource a signed request names; this reply sends the path untouched.
//
// Sends the request's raw headers (with "Host" from the URL where the request
// has none, "Content-Length" for a body and "Connection: close") and the body
// from `outgoing`, read as the socket takes it, emitting uploadProgress(); a
// sequential `outgoing` needs the request's ContentLengthHeader.
// Reads the status line, headers and a body framed by Content-Length, chunked
// encoding or the end of the connection, emitting metaDataChanged(),
// readyRead() and downloadProgress(). Sets HttpStatusCodeAttribute,
// RedirectionTargetAttribute (a 3xx's Location, as sent) and the same
// NetworkError as Qt for an HTTP error status, and ends with finished(), also
// after abort(). Follows no redirects, no compression, no proxy of its own.
// Unlike Qt's stack it checks the framing itself: a Content-Length that is not
// one decimal number, a chunk-size line that is not hexadecimal or overflows,
// and chunk data not followed by its line end fail at once (ProtocolFailure);
// a connection that closes before the announced length or the last chunk
// fails with RemoteHostClosedError. Fails at once (ProtocolFailure) too when
// the status lines and headers pass 64 KiB, a chunk-size line 4 KiB or the
// trailers 64 KiB.
// HTTPS verifies as the request's SSL configuration says; a certificate error
// fails the reply (SslHandshakeFailedError) with CertificateRefusal's text.
class VerbatimHttpReply : public QNetworkReply {
    Q_OBJECT

public:
    VerbatimHttpReply(QNetworkAccessManager::Operation operation, const QNetworkRequest& request,
                      QIODevice* outgoing, QByteArray requestTarget, QObject* parent = nullptr);
    ~VerbatimHttpReply() override;

    void abort() override;
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    enum class Stage { Connecting, Head, Body, Chunked, Done };
    enum class ChunkPart { SizeLine, Data, DataEnd, Trailer };

    void connectSocket();
    void sendHead();
    void sendBody();
    void onReadyRead();
    bool parseHead();
    bool parseChunked();
    void onDisconnected();
    void deliverFromIncoming(qint64 take);
    void deliver(const QByteArray& data);
    void complete();
    void failWith(NetworkError code, const QString& text);
    void finishNow();

    QByteArray verb;
    QByteArray requestTarget;
    QPointer<QIODevice> outgoing;
    qint64 bodySize = -1;
    qint64 bodyRead = 0;
    qint64 bodySent = 0;
    qint64 headBytesLeft = 0;

    std::unique_ptr<QTcpSocket> socket;
    Stage stage = Stage::Connecting;
    QByteArray incoming;
    // The bytes at the start of `incoming` searched for a line's end in vain.
    int scanned = 0;
    qint64 headBytes = 0;
    qint64 trailerBytes = 0;
    QByteArray readable;
    qint64 readPos = 0;  // where the reader is in `readable`
    qint64 received = 0;
    qint64 expected = -1;  // body bytes still to come; -1 until the connection ends
    ChunkPart chunkPart = ChunkPart::SizeLine;
    qint64 chunkLeft = 0;
};
