#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "aws_signer.h"

class MessageWriter;

// The parameters of one upload, as the upload runner sends them.
struct UploadJob {
    QString accessKey;
    QString secretKey;
    QString bucket;
    QString endpoint;
    QString region;
    QString key;
    QString localFilename;
    // The file name a browser offers when the object is downloaded; empty for none.
    QString uploadFile;
    bool disableSsl = false;
    bool forcePathStyle = false;
    int poolSize = 1;
    // A request that moves no byte for this long is dropped and tried again.
    int stallTimeoutMs = 60 * 1000;

    static UploadJob fromJson(const QJsonObject& job);
};

// Where the requests of an upload go.
struct S3Target {
    QByteArray scheme;       // "http" or "https"
    QByteArray hostHeader;   // host[:port]; led by the bucket in virtual-hosted style
    QByteArray encodedPath;  // percent-encoded; "/bucket/key" in path style

    // False with a message for a missing or malformed bucket, key or endpoint.
    // The key is kept as given, "." and ".." segments included.
    static bool resolve(const UploadJob& job, S3Target& target, QString& error);
};

// One PUT of a local file to an S3-compatible store, signed with Signature
// Version 4. Files larger than one part go up as a multipart upload with up to
// `poolSize` parts in flight, each read only when it is sent; a multipart
// upload that fails is aborted.
class S3Upload : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kPartSize = 8 * 1024 * 1024;

    S3Upload(UploadJob job, MessageWriter& messages);

    // Starts the upload; finished() follows once the result has been written.
    void start();
    bool succeeded() const { return ok; }

signals:
    void finished();

private:
    struct Response {
        int status = 0;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString errorString;
        QByteArray body;
        QByteArray etag;
        qint64 contentLength = -1;
        bool stalled = false;
    };
    using Handler = std::function<void(const Response&)>;
    struct Call {
        QByteArray method;
        AwsSigner::QueryItems query;
        QByteArray body;
        QByteArray payloadHash;
        QList<QPair<QByteArray, QByteArray>> headers;
        int partNumber = 0;
        int attempt = 1;
        // Transient failures (network, stalls, 5xx, 429, RequestTimeout) are
        // tried again, up to kAttempts.
        bool retry = true;
        // Runs even while the upload is failing (the abort of a multipart upload).
        bool whileFailing = false;
        Handler handler;
    };

    QList<QPair<QByteArray, QByteArray>> objectHeaders() const;
    void send(Call call);
    void onReplyFinished(QNetworkReply* reply, const Call& call);
    void onUploadProgress(int partNumber, qint64 sent);
    QNetworkAccessManager& leastBusyManager();

    void putWhole();
    void initiate();
    void schedule();
    void putPart(int partNumber);
    void complete();
    void confirmCompleted(const QString& failure);
    QByteArray wholeFileMd5();

    void reportProgress(bool force);
    void fail(const QString& status, const QString& message);
    void finishFailure();
    void succeed();

    UploadJob job;
    MessageWriter& messages;
    AwsSigner signer;
    // Qt opens at most 6 connections per host and manager: enough managers
    // for `poolSize` requests at once.
    std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
    QFile file;
    qint64 fileSize = 0;
    qint64 partSize = kPartSize;

    S3Target target;

    QString uploadId;
    int partCount = 0;
    int nextPart = 1;
    int partsInFlight = 0;
    QMap<int, QByteArray> etags;
    qint64 confirmedBytes = 0;
    QMap<int, qint64> sentByPart;
    qint64 reportedBytes = 0;

    QSet<QNetworkReply*> active;
    QElapsedTimer sinceProgress;
    bool failing = false;
    bool done = false;
    bool ok = false;
    QString failureStatus;
    QString failureMessage;
};
