#include "http_download.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>

#include <filesystem>
#include <system_error>

#include "file_sync.h"
#include "message_writer.h"
#include "part_meta.h"
#include "verbatim_http_reply.h"
#include "verbatim_network_manager.h"

namespace {

const int kProgressIntervalMs = 200;
// A transfer that receives nothing for this long is dropped and tried again.
const int kStallTimeoutMs = 60 * 1000;
// Small pieces wait in the file's buffer; once the transfer pauses this long
// they are written out, so that a killed run leaves all it received.
const int kIdleFlushMs = 100;
const int kMaxRedirects = 10;
// How long an unreadable lock file is given to be written by a run that has
// just created it.
const int kLockSettleMs = 200;
// How long a run waits for another run that is taking over a lock.
const int kTakeoverWaitMs = 2000;
// Waits before the second, third, ... attempt: 1 s, 2 s, 4 s.
const int kFirstRetryDelayMs = 1000;

int httpStatus(const QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Failures that a later attempt may not meet: a dropped or reset connection, a
// stall, an overloaded or restarting server or gateway.
bool isTransient(int status, QNetworkReply::NetworkError error) {
    if (status == 502 || status == 503 || status == 504) return true;
    // A connection may drop after the headers of a good answer have arrived.
    switch (error) {
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::TimeoutError:
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::ProxyConnectionClosedError:
        case QNetworkReply::UnknownNetworkError:
            return true;
        default:
            return false;
    }
}

// The first byte of a "Content-Range: bytes <first>-<last>/<total>" answer and
// the whole length; false for anything else.
bool parseContentRange(const QByteArray& value, qint64& first, qint64& whole) {
    static const QRegularExpression form("^bytes (\\d+)-(\\d+)/(\\d+)$");
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(value.trimmed()));
    if (!match.hasMatch()) return false;
    first = match.captured(1).toLongLong();
    whole = match.captured(3).toLongLong();
    return true;
}

// Takes the lock, or the lock of a run that no longer holds it. QLockFile
// alone takes over only a readable lock naming a process of this machine that
// has ended: an empty lock (a power cut just after a run began) or one written
// under another host name would block the target for good. A running holder
// keeps its lock file locked (POSIX) or open without delete sharing (Windows),
// so the removal fails exactly while one runs.
// The removal goes by name: a run that found the old lock and removed it only
// after a second run had replaced it would remove the second run's live lock,
// and both would write. As QLockFile does for its stale locks, the takeover
// runs under "<lock>.rmlock"; held until the new lock is in place, no second
// taker sees a moment without a live lock.
bool takeLock(QLockFile& lock, const QString& lockPath) {
    if (lock.tryLock(0)) return true;
    if (lock.error() != QLockFile::LockFailedError) return false;
    QLockFile takeover(lockPath + ".rmlock");
    if (!takeover.tryLock(kTakeoverWaitMs)) return false;
    if (lock.tryLock(0)) return true;
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application)) {
        // A run that has just created its lock locks it and writes it a moment
        // later; on POSIX an empty lock may be that moment.
        QThread::msleep(kLockSettleMs);
    }
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

// The value that names this version of the server's file in "If-Range", which
// takes only a strong entity tag.
QByteArray validatorOf(const QNetworkReply* reply) {
    const QByteArray etag = reply->rawHeader("ETag");
    return !etag.isEmpty() && !etag.startsWith("W/") ? etag : reply->rawHeader("Last-Modified");
}

// Whether a 206 names a version other than `validator`. A 206 repeats the
// entity tag the whole answer would carry but need not repeat Last-Modified,
// and the server has checked "If-Range" already: only a validator of the same
// kind that differs tells of another version.
bool namesAnotherVersion(const QNetworkReply* reply, const QByteArray& validator) {
    const bool entityTag = validator.startsWith('"');
    const QByteArray repeated = reply->rawHeader(entityTag ? "ETag" : "Last-Modified");
    return !repeated.isEmpty() && repeated != validator;
}

}  // namespace

HttpDownload::HttpDownload(QString url, QString saveFilename, MessageWriter& messages)
    : urlText(std::move(url)), saveFilename(std::move(saveFilename)), messages(messages) {
    stallTimer.setSingleShot(true);
    stallTimer.setInterval(kStallTimeoutMs);
    connect(&stallTimer, &QTimer::timeout, this, &HttpDownload::onStalled);
    idleFlushTimer.setSingleShot(true);
    idleFlushTimer.setInterval(kIdleFlushMs);
    connect(&idleFlushTimer, &QTimer::timeout, &partFile, &QFile::flush);
}

void HttpDownload::start() {
    // Tolerant: a URL typed with blanks or non-ASCII letters is encoded, not refused.
    url = QUrl(urlText, QUrl::TolerantMode);
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
    // Two runs for one target would write into the same partial file. The lock
    // of a run that was killed or cut off is taken over; a running one holds it
    // however long the transfer takes.
    const QString partPath = target.absoluteFilePath() + ".part";
    partLock = std::make_unique<QLockFile>(partPath + ".lock");
    partLock->setStaleLockTime(0);
    if (!takeLock(*partLock, partPath + ".lock")) {
        const bool held = partLock->error() == QLockFile::LockFailedError;
        partLock.reset();
        fail("FILE_ERROR", held ? "另一个下载程序正在保存到 " + saveFilename
                                : "无法创建锁文件 " + partPath + ".lock");
        return;
    }
    partFile.setFileName(partPath);
    metaFilename = partPath + ".meta";
    QString error;
    if (!openPartial(error)) {
        fail("FILE_ERROR", error);
        return;
    }
    sinceProgress.start();
    request(url);
}

bool HttpDownload::openPartial(QString& error) {
    // Only a partial file of this same URL, with the validator its server gave,
    // can be continued.
    QFile meta(metaFilename);
    if (meta.open(QIODevice::ReadOnly)) {
        validator = PartMeta::validatorFor(meta.read(PartMeta::kMaxBytes + 1), urlText);
    }
    // Created the normal way, the file gets the mode the user's settings give
    // new files, and keeps it through the final rename.
    if (!partFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = "无法创建临时文件 " + partFile.fileName() + ": " + partFile.errorString();
        return false;
    }
    received = partFile.size();
    if (validator.isEmpty() && received > 0 && !restartPartial()) {
        error = "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString();
        return false;
    }
    return true;
}

bool HttpDownload::restartPartial() {
    validator.clear();
    received = 0;
    QFile::remove(metaFilename);
    return partFile.resize(0);
}

bool HttpDownload::writeMeta() {
    if (validator.isEmpty()) return !QFile::exists(metaFilename) || QFile::remove(metaFilename);
    QFile meta(metaFilename);
    const QByteArray json =
        QJsonDocument(QJsonObject{{"url", urlText}, {"validator", QString::fromLatin1(validator)}})
            .toJson(QJsonDocument::Compact);
    return meta.open(QIODevice::WriteOnly | QIODevice::Truncate) && meta.write(json) == json.size();
}

void HttpDownload::request(const QUrl& target) {
    currentUrl = target;
    bodyDecided = false;
    bodyAccepted = false;
    stalled = false;
    QNetworkRequest request(target);
    // Redirects are followed here, so that each target is asked once and a
    // refused one is reported for what it is.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // Qt would otherwise ask for gzip and inflate silently, and the received
    // length could no longer be checked against "Content-Length".
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, "pvl_downloader");
    if (received > 0) {
        // The server sends the rest only while its file is the one the partial
        // file began with, and the whole file otherwise.
        request.setRawHeader("Range", "bytes=" + QByteArray::number(received) + '-');
        request.setRawHeader("If-Range", validator);
    }
    // The tool's own exchange, not Qt's stack: Qt ends a chunked body at any
    // chunk-size line it cannot read, takes a negative or non-numeric
    // Content-Length for none, and may finish a reply normally when the
    // connection closes mid-body; each would pass for a complete file.
    reply = new VerbatimHttpReply(QNetworkAccessManager::GetOperation,
                                  VerbatimNetworkManager::withTlsPolicy(request), nullptr,
                                  VerbatimNetworkManager::requestTarget(request), this);
    connect(reply, &QNetworkReply::readyRead, this, &HttpDownload::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &HttpDownload::onFinished);
    stallTimer.start();
}

bool HttpDownload::acceptBody() {
    if (bodyDecided) return bodyAccepted;
    bodyDecided = true;
    const int status = httpStatus(reply);
    if (status == 206 && received > 0) {
        // A server may honour "Range" and ignore "If-Range": the rest of
        // another version of its file is no continuation.
        if (namesAnotherVersion(reply, validator)) {
            abortStatus = "CHANGED";
            return false;
        }
        qint64 first = -1;
        qint64 whole = -1;
        if (parseContentRange(reply->rawHeader("Content-Range"), first, whole) &&
            first == received) {
            total = whole;
            bodyAccepted = true;
        } else {
            abortStatus = "RANGE";
        }
        return bodyAccepted;
    }
    if (status / 100 == 2 && status != 200) {
        // Anything but the whole file or the rest of the partial one is no
        // file: the target and a partial file that can be continued stay.
        abortStatus = "HTTP_ERROR";
        abortMessage =
            QString("下载失败, HTTP状态 %1 %2 不是文件的内容: %3")
                .arg(status)
                .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                .arg(urlText);
        keepPartial = true;
        return false;
    }
    if (status != 200) return false;
    // The whole file: the server ignores ranges, or its file has changed.
    if (received > 0 && !restartPartial()) {
        abortStatus = "FILE_ERROR";
        abortMessage = "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString();
        return false;
    }
    validator = validatorOf(reply);
    if (!writeMeta()) {
        abortStatus = "FILE_ERROR";
        abortMessage = "无法写入文件 " + metaFilename;
        return false;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    total = length.isValid() ? length.toLongLong() : -1;
    bodyAccepted = true;
    return true;
}

void HttpDownload::onReadyRead() {
    stallTimer.start();
    const QByteArray data = reply->read(reply->bytesAvailable());
    // Error pages and redirect bodies are not the file.
    if (!abortStatus.isEmpty() || !acceptBody()) {
        if (!abortStatus.isEmpty()) reply->abort();
        return;
    }
    if (data.isEmpty()) return;
    wroteThisRun = true;
    if (partFile.write(data) != data.size()) {
        abortStatus = "FILE_ERROR";
        abortMessage = "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString();
        reply->abort();
        return;
    }
    received += data.size();
    idleFlushTimer.start();
    reportProgress(false);
}

void HttpDownload::onStalled() {
    stalled = true;
    reply->abort();
}

void HttpDownload::onFinished() {
    stallTimer.stop();
    if (abortStatus.isEmpty() && reply->error() == QNetworkReply::NoError) onReadyRead();
    reply->deleteLater();
    const int status = httpStatus(reply);
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorString = reply->errorString();
    const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    reply = nullptr;

    if (abortStatus == "RANGE" || abortStatus == "CHANGED") {
        // A range that does not continue the partial file, or a file that has
        // changed since the partial file began: start afresh.
        const bool changed = abortStatus == "CHANGED";
        abortStatus.clear();
        if (!restartPartial()) {
            fail("FILE_ERROR",
                 "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString());
        } else if (changed) {
            request(url);
        } else {
            retry("HTTP_ERROR", "下载失败, 服务器返回的范围不符: " + currentUrl.toString());
        }
        return;
    }
    if (!abortStatus.isEmpty()) {
        fail(abortStatus, abortMessage);
        return;
    }
    if (stalled) {
        retry("NETWORK_ERROR", QString("下载超时, %1 秒内没有收到数据: %2")
                                   .arg(kStallTimeoutMs / 1000)
                                   .arg(currentUrl.toString()));
        return;
    }
    if (isRedirect(status) && location.isValid()) {
        follow(location);
        return;
    }
    if (status == 416 && received > 0) {
        // The partial file is no prefix of the server's file any more.
        if (!restartPartial()) {
            fail("FILE_ERROR",
                 "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString());
            return;
        }
        request(url);
        return;
    }
    if (isTransient(status, error) ||
        (error == QNetworkReply::NoError && total >= 0 && received != total)) {
        const QString message =
            status >= 300
                ? QString("下载失败, HTTP状态 %1 %2: %3").arg(status).arg(reason).arg(urlText)
            : error != QNetworkReply::NoError
                ? "下载失败, 网络错误: " + errorString
                : QString("下载不完整, 收到 %1 字节, 应为 %2 字节: %3")
                      .arg(received)
                      .arg(total)
                      .arg(urlText);
        retry(status >= 300 ? "HTTP_ERROR" : "NETWORK_ERROR", message);
        return;
    }
    if (status >= 300 || (error == QNetworkReply::NoError && status < 200)) {
        fail("HTTP_ERROR",
             QString("下载失败, HTTP状态 %1 %2: %3").arg(status).arg(reason).arg(urlText));
        return;
    }
    if (error == QNetworkReply::SslHandshakeFailedError) {
        fail("NETWORK_ERROR", "下载失败, " + errorString);
        return;
    }
    if (error != QNetworkReply::NoError) {
        fail("NETWORK_ERROR", "下载失败, 网络错误: " + errorString);
        return;
    }
    QString commitError;
    if (!commit(commitError)) {
        fail("FILE_ERROR", commitError);
        return;
    }
    reportProgress(true);
    succeed();
}

void HttpDownload::follow(const QUrl& location) {
    const QUrl next = currentUrl.resolved(location);
    const QString scheme = next.scheme().toLower();
    if (++redirects > kMaxRedirects) {
        fail("HTTP_ERROR",
             QString("下载失败, 重定向超过 %1 次: %2").arg(kMaxRedirects).arg(urlText));
        return;
    }
    if (currentUrl.scheme().toLower() == "https" && scheme == "http") {
        fail("HTTP_ERROR", "下载失败, 拒绝从 HTTPS 重定向到 HTTP: " + next.toString());
        return;
    }
    if (scheme != "http" && scheme != "https") {
        fail("HTTP_ERROR", "下载失败, 无效的重定向地址: " + next.toString());
        return;
    }
    request(next);
}

void HttpDownload::retry(const QString& status, const QString& message) {
    if (attempt >= kAttempts) {
        fail(status, message);
        return;
    }
    const int delayMs = kFirstRetryDelayMs << (attempt - 1);
    ++attempt;
    redirects = 0;
    // Without a validator what has arrived cannot be continued.
    if (validator.isEmpty() && received > 0 && !restartPartial()) {
        fail("FILE_ERROR", "写入文件失败 " + partFile.fileName() + ": " + partFile.errorString());
        return;
    }
    QTimer::singleShot(delayMs, this, [this] { request(url); });
}

bool HttpDownload::commit(QString& error) {
    QString syncError;
    if (!FileSync::toDisk(partFile, syncError)) {
        error = "写入文件失败 " + partFile.fileName() + ": " + syncError;
        return false;
    }
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
    QFile::remove(metaFilename);
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
    stallTimer.stop();
    if (partFile.isOpen()) partFile.close();
    // What arrived in this run stays for the next run to continue, when the
    // server allows that, and so does an older partial file that an answer
    // other than the file left alone; any other, or one that cannot be
    // continued, goes.
    const bool resumable = received > 0 && !validator.isEmpty();
    if (!metaFilename.isEmpty() && !(resumable && (wroteThisRun || keepPartial))) {
        partFile.remove();
        QFile::remove(metaFilename);
    }
    if (partLock) partLock->unlock();
    messages.failure(status, message);
    emit finished();
}

void HttpDownload::succeed() {
    if (done) return;
    done = true;
    ok = true;
    if (partLock) partLock->unlock();
    messages.success();
    emit finished();
}
