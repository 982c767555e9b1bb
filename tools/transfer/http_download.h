#pragma once

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

class MessageWriter;
class QNetworkReply;

// One GET of a URL into a file. The body goes to a temporary file beside the
// target, which takes the target's name only once the whole body has arrived,
// so a failed or cut download never leaves a partial file under that name.
class HttpDownload : public QObject {
    Q_OBJECT

public:
    HttpDownload(QString url, QString saveFilename, MessageWriter& messages);

    // Starts the transfer; finished() follows once the result has been written.
    void start();
    bool succeeded() const { return ok; }

signals:
    void finished();

private:
    void onReadyRead();
    void onFinished();
    void onStalled();
    void reportProgress(bool force);
    bool commit(QString& error);
    void fail(const QString& status, const QString& message);
    void succeed();

    QString urlText;
    QString saveFilename;
    MessageWriter& messages;
    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    QTemporaryFile partFile;
    QTimer stallTimer;
    QElapsedTimer sinceProgress;
    qint64 received = 0;
    qint64 total = -1;
    QString abortStatus;
    QString abortMessage;
    bool done = false;
    bool ok = false;
};
