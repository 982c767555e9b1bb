#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

#include <functional>
#include <string>

// Downloads one URL into a local file by running the download tool
// "pvl_downloader.exe" from the application folder. Needs the application object.
class UrlDownloader : public QObject {
public:
    // Both strings are UTF-8; they are sent up to their first NUL byte.
    UrlDownloader(std::string url, std::string saveFilename);

    // Runs the tool to its end, blocking the calling thread. True exactly when the
    // tool printed "RESULT SUCCESS"; otherwise getErrorMessage() says why.
    bool exec();
    // Ends a running tool at once. Also called when the application is about to quit.
    void kill();
    // The last failure text as UTF-8; never cleared by a later success.
    std::string getErrorMessage();
    // Receives (value, text, text) of every well-formed progress message, on the
    // thread that runs exec(), while exec() is blocked.
    void setProgressCallback(std::function<void(int, std::string, std::string)> callback);

private:
    void readDownloaderOutput();

    QProcess process;
    std::string url;
    std::string saveFilename;
    QByteArray output;
    std::function<void(int, std::string, std::string)> progressCallback;
    QString errorMessage;
};
