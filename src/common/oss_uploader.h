#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QProcess;

// Uploads one local file to an object-storage bucket by running the upload tool
// "pvl_uploader.exe" from the application folder. Needs the application object.
class OssUploader : public QObject {
    Q_OBJECT

public:
    // Parameters of one upload; `uploadFile` is sent only when `withUploadFile`.
    struct OssEntry {
        QString ak;
        QString sk;
        QString bucket;
        QString endpoint;
        QString region;
        QString key;
        QString localFilename;
        bool disableSsl = false;
        bool s3ForcePathStyle = false;
        bool withUploadFile = false;
        QString uploadFile;
    };

    OssUploader(OssEntry entry, int poolSize);
    ~OssUploader() override;

    // Runs the tool to its end, blocking the calling thread. True exactly when the
    // tool printed "RESULT SUCCESS"; otherwise getErrorMessage() says why.
    bool exec();
    // Ends a running tool at once. Also called when the application is about to quit.
    void kill();
    // The last failure text as UTF-8; never cleared by a later success.
    std::string getErrorMessage();
    // Receives (value, text) of every well-formed progress message, on the thread
    // that runs exec(), while exec() is blocked.
    void setProgressCallback(std::function<void(int, std::string)> callback);

private slots:
    void slotReadUploaderOutput();

private:
    QProcess* process;
    OssEntry entry;
    int poolSize;
    QString errorMessage;
    QByteArray output;
    std::function<void(int, std::string)> progressCallback;
};
