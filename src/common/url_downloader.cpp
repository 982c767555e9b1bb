#include "url_downloader.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QVariant>

#include <glog/logging.h>

#include "filepath.h"
#include "utils.h"

namespace {

QString fromUtf8UpToNul(const std::string& text) {
    return Utils::fromUtf8UpToNul(QByteArray(text.data(), static_cast<int>(text.size())));
}

QByteArray joinFrom(const QList<QByteArray>& fields, int first) {
    QByteArray joined;
    for (int i = first; i < fields.size(); ++i) {
        if (i > first) joined.append(' ');
        joined.append(fields[i]);
    }
    return joined;
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

    const std::string commandLine =
        (process.program() + " " + process.arguments().join(" ")).toStdString();
    LOG(INFO) << commandLine;

    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        LOG(ERROR) << "拉起下载程序失败: " << process.program().toStdString() << " "
                   << process.errorString().toStdString();
        errorMessage = "拉起下载程序失败 " + process.errorString();
        return false;
    }
    if (!process.waitForFinished(-1)) {
        LOG(ERROR) << "等待下载程序结束出错: " << process.program().toStdString() << " "
                   << process.errorString().toStdString();
        errorMessage = "等待下载程序结束错误 " + process.errorString();
        return false;
    }
    LOG(INFO) << commandLine << "\n" << output.toStdString();

    if (!output.contains("RESULT")) {
        errorMessage = "下载程序意外退出";
        return false;
    }
    return output.contains("RESULT SUCCESS");
}

void UrlDownloader::kill() {
    LOG(WARNING) << "杀掉下载程序: " << process.program().toStdString();
    process.kill();
}

std::string UrlDownloader::getErrorMessage() { return errorMessage.toUtf8().toStdString(); }

void UrlDownloader::setProgressCallback(
    std::function<void(int, std::string, std::string)> callback) {
    progressCallback = std::move(callback);
}

void UrlDownloader::readDownloaderOutput() {
    // One read is one message: the tool writes and flushes each message at once.
    const QByteArray block = process.readAll();
    if (block.isEmpty()) return;
    output.append(block);

    if (progressCallback && block.startsWith("PROGRESS")) {
        const QList<QByteArray> fields = block.trimmed().split(' ');
        if (fields.size() == 4) {
            progressCallback(fields[1].toInt(nullptr, 10), fields[2].toStdString(),
                             fields[3].toStdString());
        }
    }
    if (block.startsWith("RESULT")) {
        const QList<QByteArray> fields = block.split(' ');
        // Decoded before trimming, so that Unicode blanks at the end of the message
        // and blanks in front of a NUL byte go as well.
        if (fields.size() > 2) errorMessage = Utils::fromUtf8UpToNul(joinFrom(fields, 2)).trimmed();
    }
}
