#include "url_downloader.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMap>
#include <QVariant>

#include "filepath.h"
#include "tool_run.h"
#include "utils.h"

namespace {

const ToolRun::Profile kProfile{
    /*startLog=*/"拉起下载程序失败: ",
    /*startFailure=*/"拉起下载程序失败 ",
    /*waitLog=*/"等待下载程序结束出错: ",
    /*waitFailure=*/"等待下载程序结束错误 ",
    /*killLog=*/"杀掉下载程序: ",
    /*logsProgram=*/true,
    /*logsErrorCode=*/false,
    /*closesInput=*/false,
};

QString fromUtf8UpToNul(const std::string& text) {
    return Utils::fromUtf8UpToNul(QByteArray(text.data(), static_cast<int>(text.size())));
}

}  // namespace

UrlDownloader::UrlDownloader(std::string url, std::string saveFilename)
    : QObject(nullptr), process(), url(std::move(url)), saveFilename(std::move(saveFilename)) {
    connect(
        QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { kill(); },
        Qt::DirectConnection);
    // readAll() only ever reads standard output, so a second notification for
    // data already read finds nothing and changes nothing.
    connect(&process, &QIODevice::readyRead, this, [this] { readDownloaderOutput(); });
    connect(&process, &QProcess::readyReadStandardError, this, [this] { readDownloaderOutput(); });
    connect(&process, &QProcess::readyReadStandardOutput, this, [this] { readDownloaderOutput(); });
}

bool UrlDownloader::exec() {
    // Judge each run by its own output only: an earlier run's "RESULT SUCCESS"
    // would otherwise turn any later failure into a success.
    output.clear();
    process.setProgram(
        Filepath::join({QCoreApplication::applicationDirPath(), "pvl_downloader.exe"}));

    QMap<QString, QVariant> job;
    job.insert("url", fromUtf8UpToNul(url));
    job.insert("save_filename", fromUtf8UpToNul(saveFilename));
    const QByteArray json = QJsonDocument::fromVariant(QVariant(job)).toJson();
    process.setArguments({Utils::argCyclicShiftEncode(Utils::fromUtf8UpToNul(json))});

    if (!ToolRun::run(process, kProfile, output, errorMessage)) return false;
    return ToolRun::transferSucceeded(output, "下载程序意外退出", errorMessage);
}

void UrlDownloader::kill() { ToolRun::kill(process, kProfile); }

std::string UrlDownloader::getErrorMessage() { return errorMessage.toUtf8().toStdString(); }

void UrlDownloader::setProgressCallback(
    std::function<void(int, std::string, std::string)> callback) {
    progressCallback = std::move(callback);
}

void UrlDownloader::readDownloaderOutput() {
    ToolRun::readDownloadBlock(process.readAll(), output, errorMessage, progressCallback);
}
