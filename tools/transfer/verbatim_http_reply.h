#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>

#include <memory>

#include "http_answer_reader.h"

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
// Reads the answer with HttpAnswerReader, emitting metaDataChanged(),
// readyRead() and downloadProgress(). Sets HttpStatusCodeAttribute and the
// same NetworkError as Qt for an HTTP error status, and ends with finished(),
// also after abort(). No redirects, no compression, no proxy of its own.
// A broken answer fails at once (ProtocolFailure), one cut off by the end of
// the connection with RemoteHostClosedError.
// Sets RedirectionTargetAttribute to a 3xx's Location, as sent.
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
    enum class Stage { Connecting, Exchanging, Done };

    void connectSocket();
    void sendHead();
    void sendBody();
    void onReadyRead();
    void readAnswer();
    void takeHead();
    void onDisconnected();
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
    HttpAnswerReader answer;
    QByteArray readable;
    qint64 readPos = 0;  // where the reader is in `readable`
    qint64 received = 0;
};
