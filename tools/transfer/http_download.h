#pragma once

#include <memory>

#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

class MessageWriter;
class QNetworkReply;

// One GET of a URL into a file. The body goes to "<target>.part" beside the
// target, which takes the target's name only once the whole body is on disk,
// so a failed or cut download never leaves a partial file under that name.
// Only a 200, or a 206 that continues the partial file, is the file; any other
// answer fails the run and leaves the target as it was.
// "<target>.part.meta" records the URL and the server's validator (entity tag
// or modification time): a later run for the same URL continues the partial
// file with a range request, which the server answers in full instead when its
// file has changed; a 206 with another validator starts the file afresh.
// Dropped connections (also before the announced length or the last chunk)
// and 502/503/504 are tried again, up to kAttempts in all, each continuing what
// has arrived; a refused certificate and broken framing (VerbatimHttpReply
// checks it) fail at once. "<target>.part.lock" keeps a second run for the
// same target out while one writes; a lock no running program holds is taken
// over, one taker at a time.
class HttpDownload : public QObject {
    Q_OBJECT

public:
    static constexpr int kAttempts = 4;

    HttpDownload(QString url, QString saveFilename, MessageWriter& messages);

    // Starts the transfer; finished() follows once the result has been written.
    void start();
    bool succeeded() const { return ok; }

signals:
    void finished();

private:
    bool openPartial(QString& error);
    bool restartPartial();
    bool writeMeta();
    void request(const QUrl& url);
    bool acceptBody();
    void onReadyRead();
    void onFinished();
    void onStalled();
    void follow(const QUrl& location);
    void retry(const QString& status, const QString& message);
    bool commit(QString& error);
    void reportProgress(bool force);
    void fail(const QString& status, const QString& message);
    void succeed();

    QString urlText;
    QUrl url;
    QUrl currentUrl;
    QString saveFilename;
    QString metaFilename;
    MessageWriter& messages;
    QNetworkReply* reply = nullptr;
    QFile partFile;
    std::unique_ptr<QLockFile> partLock;
    QTimer stallTimer;
    QTimer idleFlushTimer;
    QElapsedTimer sinceProgress;
    // The "If-Range" value for the partial file's bytes; empty when the server
    // gave none, and then a partial file cannot be continued.
    QByteArray validator;
    qint64 received = 0;
    qint64 total = -1;
    int attempt = 1;
    int redirects = 0;
    // Whether the body of the current reply belongs in the file; decided once
    // its headers are in.
    bool bodyDecided = false;
    bool bodyAccepted = false;
    bool stalled = false;
    bool wroteThisRun = false;
    // An answer that was not the file left the partial file as it was.
    bool keepPartial = false;
    QString abortStatus;
    QString abortMessage;
    bool done = false;
    bool ok = false;
};
