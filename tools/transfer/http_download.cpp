#include "http_download.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <filesystem>
#include <system_error>

#include "message_writer.h"

namespace {

const int kProgressIntervalMs = 200;
// A transfer that receives nothing for this long is given up.
const int kStallTimeoutMs = 60 * 1000;
const int kMaxRedirects = 10;
const qint64 kReadBufferBytes = 1024 * 1024;

int httpStatus(const QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

}  // namespace

HttpDownload::HttpDownload(QString url, QString saveFilename, MessageWriter& messages)
    : urlText(std::move(url)), saveFilename(std::move(saveFilename)), messages(messages) {
    stallTimer.setSingleShot(true);
    stallTimer.setInterval(kStallTimeoutMs);
    connect(&stallTimer, &QTimer::timeout, this, &HttpDownload::onStalled);
}

void HttpDownload::start() {
    // Tolerant: a URL typed with blanks or non-ASCII letters is encoded, not refused.
    const QUrl url(urlText, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "http" && scheme != "https")) {
        fail("ARGUMENT_ERROR", "无效的下载地址: " + urlText);
        return;
    }
    if (saveFilename.isEmpty()) {
        fail("ARGUMENT_ERROR", "缺少保存文件名");
        return;
    }
    const QFileInfo target(saveFilename);
    if (target.isDir()) {
        fail("FILE_ERROR", "保存路径是一个文件夹: " + saveFilename);
        return;
    }
    if (!QDir().mkpath(target.absolutePath())) {
        fail("FILE_ERROR", "无法创建文件夹: " + target.absolutePath());
        return;
    }
    partFile.setFileTemplate(target.absoluteFilePath() + ".XXXXXX.part");
    if (!partFile.open()) {
        fail("FILE_ERROR",
             "无法创建临时文件 " + partFile.fileTemplate() + ": " + partFile.errorString());
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    // Qt would otherwise ask for gzip and inflate silently, and the received
    // length could no longer be checked against "Content-Length".
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, "pvl_downloader");
    reply = manager.get(request);
    // Without a limit Qt reads the whole body into memory ahead of the file
    // writes; a bounded buffer keeps memory flat and the transfer faster.
    reply->setReadBufferSize(kReadBufferBytes);
    connect(reply, &QNetworkReply::readyRead, this, &HttpDownload::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &HttpDownload::onFinished);
    stallTimer.start();
    sinceProgress.start();
}

void HttpDownload::onReadyRead() {
    stallTimer.start();
    const QByteArray data = reply->readAll();
    // Error pages and redirect bodies are not the file.
    const int status = httpStatus(reply);
    if (status < 200 || status > 299 || !abortStatus.isEmpty()) return;
    if (total < 0) {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid()) total = length.toLongLong();
    }
    if (partFile.write(data) != data.size()) {
        abortStatus = "FILE_ERROR";
        abortMessage = "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString();
        reply->abort();
        return;
    }
    received += data.size();
    reportProgress(false);
}

void HttpDownload::onStalled() {
    abortStatus = "NETWORK_ERROR";
    abortMessage =
        QString("下载超时, %1 秒内没有收到数据: %2").arg(kStallTimeoutMs / 1000).arg(urlText);
    reply->abort();
}

void HttpDownload::onFinished() {
    stallTimer.stop();
    if (abortStatus.isEmpty() && reply->error() == QNetworkReply::NoError) onReadyRead();
    if (!abortStatus.isEmpty()) {
        fail(abortStatus, abortMessage);
        return;
    }
    const int status = httpStatus(reply);
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (status >= 300 || (reply->error() == QNetworkReply::NoError && status < 200)) {
        fail("HTTP_ERROR",
             QString("下载失败, HTTP状态 %1 %2: %3").arg(status).arg(reason).arg(urlText));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail("NETWORK_ERROR", "下载失败, 网络错误: " + reply->errorString());
        return;
    }
    if (total >= 0 && received != total) {
        fail("NETWORK_ERROR", QString("下载不完整, 收到 %1 字节, 应为 %2 字节: %3")
                                  .arg(received)
                                  .arg(total)
                                  .arg(urlText));
        return;
    }
    QString error;
    if (!commit(error)) {
        fail("FILE_ERROR", error);
        return;
    }
    reportProgress(true);
    succeed();
}

bool HttpDownload::commit(QString& error) {
    if (!partFile.flush()) {
        error = "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString();
        return false;
    }
    // A temporary file is private to its owner; the result should look like any
    // other file the user saves.
    partFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ReadUser | QFileDevice::WriteUser |
                            QFileDevice::ReadGroup | QFileDevice::ReadOther);
    partFile.close();
    // One rename that replaces an existing file in the same step (QFile::rename
    // refuses to), so that the old file stays until the new one takes its place.
    std::error_code renameError;
    std::filesystem::rename(std::filesystem::path(partFile.fileName().toStdU16String()),
                            std::filesystem::path(saveFilename.toStdU16String()), renameError);
    if (renameError) {
        error = "无法保存文件 " + saveFilename + ": " +
                QString::fromLocal8Bit(renameError.message().c_str());
        return false;
    }
    partFile.setAutoRemove(false);
    return true;
}

void HttpDownload::reportProgress(bool force) {
    if (!force && sinceProgress.elapsed() < kProgressIntervalMs) return;
    sinceProgress.start();
    int percent = 0;
    if (total > 0) {
        percent = static_cast<int>(received * 100 / total);
    } else if (total == 0) {
        percent = 100;
    }
    messages.progress(
        {QString::number(percent), QString::number(received), QString::number(total)});
}

void HttpDownload::fail(const QString& status, const QString& message) {
    if (done) return;
    done = true;
    if (partFile.isOpen()) partFile.close();
    partFile.remove();
    messages.failure(status, message);
    emit finished();
}

void HttpDownload::succeed() {
    if (done) return;
    done = true;
    ok = true;
    messages.success();
    emit finished();
}
