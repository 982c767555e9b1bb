#include "s3_upload.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

#include "certificate_refusal.h"
#include "message_writer.h"
#include "s3_answer.h"
#include "verbatim_network_manager.h"

namespace {

const int kAttempts = 3;
const int kRetryDelayMs = 500;
const int kMaxParts = 10000;
const int kMaxPoolSize = 16;
const int kProgressIntervalMs = 200;
// Qt's limit of connections per host for one QNetworkAccessManager.
const int kConnectionsPerManager = 6;
const qint64 kReadChunkBytes = 1024 * 1024;
// S3's answers are short XML documents; what goes on past this is no answer,
// and kept whole it would grow without end.
const qint64 kMaxAnswerBytes = 1024 * 1024;

QString describe(int status, QNetworkReply::NetworkError error, const QString& errorString,
                 const QByteArray& body) {
    QString code;
    QString message;
    if (status > 0) {
        QString text = QString("HTTP状态 %1").arg(status);
        if (S3Answer::readError(body, code, message)) {
            if (!code.isEmpty()) text += ' ' + code;
            if (!message.isEmpty()) text += ": " + message;
        }
        return text;
    }
    if (error == QNetworkReply::NoError) return "服务器没有响应";
    // A refused certificate carries its own lead-in and reasons.
    if (error == QNetworkReply::SslHandshakeFailedError) return errorString;
    return "网络错误: " + errorString;
}

// "attachment" with the name for every browser: a plain ASCII fallback and the
// exact UTF-8 name (RFC 6266).
QByteArray contentDisposition(const QString& fileName) {
    QByteArray fallback;
    for (const QChar c : fileName) {
        const ushort u = c.unicode();
        fallback.append(u >= 0x20 && u < 0x7F && c != '"' && c != '\\' ? static_cast<char>(u)
                                                                       : '_');
    }
    return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" +
           AwsSigner::uriEncode(fileName.toUtf8(), false);
}

}  // namespace

UploadJob UploadJob::fromJson(const QJsonObject& job) {
    UploadJob upload;
    upload.accessKey = job.value("oss_ak").toString();
    upload.secretKey = job.value("oss_sk").toString();
    upload.bucket = job.value("oss_bucket").toString();
    upload.endpoint = job.value("oss_endpoint").toString();
    upload.region = job.value("oss_region").toString();
    upload.key = job.value("oss_key").toString();
    upload.localFilename = job.value("local_filename").toString();
    upload.uploadFile = job.value("upload_file").toString();
    upload.disableSsl = job.value("disable_ssl").toBool();
    upload.forcePathStyle = job.value("s3_force_path_style").toBool();
    upload.poolSize = job.value("pool_size").toInt(1);
    return upload;
}

S3Upload::S3Upload(UploadJob job, MessageWriter& messages)
    : job(std::move(job)),
      messages(messages),
      signer(this->job.accessKey, this->job.secretKey,
             this->job.region.isEmpty() ? QString("us-east-1") : this->job.region) {
    this->job.poolSize = std::max(1, std::min(this->job.poolSize, kMaxPoolSize));
    const int managerCount =
        (this->job.poolSize + kConnectionsPerManager - 1) / kConnectionsPerManager;
    for (int i = 0; i < managerCount; ++i) {
        managers.push_back(std::make_unique<VerbatimNetworkManager>());
    }
}

void S3Upload::start() {
    QString error;
    if (!S3Target::resolve(job, target, error)) {
        fail("ARGUMENT_ERROR", error);
        return;
    }
    file.setFileName(job.localFilename);
    if (job.localFilename.isEmpty() || QFileInfo(job.localFilename).isDir()) {
        fail("FILE_ERROR", "本地文件不是一个文件: " + job.localFilename);
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        fail("FILE_ERROR", "无法打开本地文件 " + job.localFilename + ": " + file.errorString());
        return;
    }
    fileSize = file.size();
    sinceProgress.start();
    if (fileSize <= kPartSize) {
        putWhole();
        return;
    }
    // S3 allows at most 10000 parts; larger files get larger parts.
    const qint64 mebibyte = 1024 * 1024;
    const qint64 needed = (fileSize + kMaxParts - 1) / kMaxParts;
    partSize = std::max(kPartSize, (needed + mebibyte - 1) / mebibyte * mebibyte);
    partCount = static_cast<int>((fileSize + partSize - 1) / partSize);
    initiate();
}

bool S3Target::resolve(const UploadJob& job, S3Target& target, QString& error) {
    if (job.bucket.isEmpty() || job.bucket.contains('/')) {
        error = "无效的 oss_bucket: " + job.bucket;
        return false;
    }
    QString key = job.key;
    while (key.startsWith('/')) key.remove(0, 1);
    if (key.isEmpty()) {
        error = "无效的 oss_key: " + job.key;
        return false;
    }
    QString endpointText = job.endpoint.trimmed();
    // An endpoint with its own scheme keeps it; "disable_ssl" picks the scheme
    // of one without.
    if (!endpointText.contains("://")) {
        endpointText = (job.disableSsl ? "http://" : "https://") + endpointText;
    }
    const QUrl endpoint(endpointText, QUrl::StrictMode);
    const QByteArray scheme = endpoint.scheme().toLower().toLatin1();
    if (job.endpoint.trimmed().isEmpty() || !endpoint.isValid() || endpoint.host().isEmpty() ||
        (scheme != "http" && scheme != "https")) {
        error = "无效的 oss_endpoint: " + job.endpoint;
        return false;
    }

    QByteArray host = endpoint.host(QUrl::FullyEncoded).toLatin1();
    if (!job.forcePathStyle) host = QUrl::toAce(job.bucket) + '.' + host;
    if (host.contains(':')) host = '[' + host + ']';
    const int defaultPort = scheme == "https" ? 443 : 80;
    QByteArray hostHeader = host;
    if (endpoint.port() != -1 && endpoint.port() != defaultPort) {
        hostHeader += ':' + QByteArray::number(endpoint.port());
    }

    QString path = endpoint.path(QUrl::FullyDecoded);
    while (path.endsWith('/')) path.chop(1);
    if (job.forcePathStyle) path += '/' + job.bucket;
    path += '/' + key;
    target.scheme = scheme;
    target.hostHeader = hostHeader;
    target.encodedPath = AwsSigner::uriEncode(path.toUtf8(), true);
    return true;
}

QList<QPair<QByteArray, QByteArray>> S3Upload::objectHeaders() const {
    QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/octet-stream"}};
    if (!job.uploadFile.isEmpty()) {
        headers.append({"Content-Disposition", contentDisposition(job.uploadFile)});
    }
    return headers;
}

void S3Upload::send(Call call) {
    if (call.payloadHash.isEmpty()) call.payloadHash = AwsSigner::sha256Hex(call.body);

    QByteArray wireQuery;
    for (const auto& item : call.query) {
        wireQuery += wireQuery.isEmpty() ? '?' : '&';
        wireQuery += AwsSigner::uriEncode(item.first, false);
        if (!item.second.isEmpty()) wireQuery += '=' + AwsSigner::uriEncode(item.second, false);
    }
    const QUrl url = QUrl::fromEncoded(
        target.scheme + "://" + target.hostHeader + target.encodedPath + wireQuery,
        QUrl::StrictMode);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray amzDate = AwsSigner::amzDate(now);
    const QMap<QByteArray, QByteArray> signedHeaders{{"host", target.hostHeader},
                                                     {"x-amz-content-sha256", call.payloadHash},
                                                     {"x-amz-date", amzDate}};

    QNetworkRequest request(url);
    // The path goes out as signed, "." and ".." segments included.
    request.setAttribute(VerbatimNetworkManager::kRequestTargetAttribute,
                         target.encodedPath + wireQuery);
    // Qt would add the port even where it is the scheme's default; the signed
    // value must be the one sent.
    request.setRawHeader("Host", target.hostHeader);
    request.setRawHeader("x-amz-date", amzDate);
    request.setRawHeader("x-amz-content-sha256", call.payloadHash);
    request.setRawHeader("Authorization",
                         signer.authorization(call.method, target.encodedPath, call.query,
                                              signedHeaders, call.payloadHash, now));
    for (const auto& header : call.headers) request.setRawHeader(header.first, header.second);

    QNetworkAccessManager& manager = leastBusyManager();
    QNetworkReply* reply = nullptr;
    if (call.method == "PUT") {
        reply = manager.put(request, call.body);
    } else if (call.method == "POST") {
        reply = manager.post(request, call.body);
    } else if (call.method == "HEAD") {
        // Qt takes a custom "HEAD" for a request with an answer body, and waits
        // for the bytes of its Content-Length until the server closes.
        reply = manager.head(request);
    } else {
        reply = manager.sendCustomRequest(request, call.method);
    }
    active.insert(reply);
    // Qt's own replies say only "SSL handshake failed"; the reasons come first.
    connect(reply, &QNetworkReply::sslErrors, this,
            [reply, host = url.host()](const QList<QSslError>& errors) {
                reply->setProperty("certificateRefusal",
                                   CertificateRefusal::describe(host, errors));
            });
    // Each request has its own limit: one stuck request is noticed while
    // others move, and only it is dropped and sent again.
    auto* stallTimer = new QTimer(reply);
    stallTimer->setSingleShot(true);
    stallTimer->setInterval(job.stallTimeoutMs);
    connect(stallTimer, &QTimer::timeout, reply, [reply] {
        reply->setProperty("stalled", true);
        reply->abort();
    });
    const int partNumber = call.partNumber;
    connect(reply, &QNetworkReply::uploadProgress, this,
            [this, partNumber, stallTimer](qint64 sent, qint64) {
                stallTimer->start();
                onUploadProgress(partNumber, sent);
            });
    connect(reply, &QNetworkReply::downloadProgress, stallTimer,
            static_cast<void (QTimer::*)()>(&QTimer::start));
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received <= kMaxAnswerBytes) return;
        reply->setProperty("oversized", true);
        reply->abort();  // a no-op once the reply has finished
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, call] { onReplyFinished(reply, call); });
    stallTimer->start();
}

QNetworkAccessManager& S3Upload::leastBusyManager() {
    QNetworkAccessManager* best = nullptr;
    int bestLoad = 0;
    for (const auto& manager : managers) {
        int load = 0;
        for (const QNetworkReply* reply : active) load += reply->manager() == manager.get();
        if (!best || load < bestLoad) {
            best = manager.get();
            bestLoad = load;
        }
    }
    return *best;
}

void S3Upload::onReplyFinished(QNetworkReply* reply, const Call& call) {
    active.remove(reply);
    reply->deleteLater();
    if (failing && !call.whileFailing) return;

    Response response;
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    response.error = reply->error();
    response.errorString = reply->errorString();
    response.body = reply->readAll();
    response.etag = reply->rawHeader("ETag");
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid()) response.contentLength = length.toLongLong();
    response.stalled = reply->property("stalled").toBool();
    const QString refusal = reply->property("certificateRefusal").toString();
    if (response.error == QNetworkReply::SslHandshakeFailedError && !refusal.isEmpty()) {
        response.errorString = refusal;
    }
    if (response.stalled) {
        response.errorString = QString("上传超时, %1 秒内没有进展").arg(job.stallTimeoutMs / 1000);
    }
    // Whatever its status said, a cut-off answer is none; a server that sends
    // it once sends it again.
    const bool oversized = reply->property("oversized").toBool();
    if (oversized) {
        response.status = 0;
        response.error = QNetworkReply::ProtocolFailure;
        response.errorString =
            QString("服务器的响应超过 %1 KiB, 不再读取").arg(kMaxAnswerBytes / 1024);
        response.body.clear();
    }

    // S3 answers "400 RequestTimeout" when the body came too slowly: the next
    // attempt may well be quicker.
    QString code;
    QString message;
    const bool requestTimeout = response.status == 400 &&
                                S3Answer::readError(response.body, code, message) &&
                                code == "RequestTimeout";
    const bool transient =
        response.status >= 500 || response.status == 429 || requestTimeout || response.stalled ||
        (response.status == 0 && !oversized && response.error != QNetworkReply::NoError &&
         response.error != QNetworkReply::OperationCanceledError &&
         // A certificate stays refused however often it is asked.
         response.error != QNetworkReply::SslHandshakeFailedError);
    if (transient && call.retry && call.attempt < kAttempts) {
        Call again = call;
        ++again.attempt;
        sentByPart.remove(call.partNumber);
        QTimer::singleShot(kRetryDelayMs * call.attempt, this, [this, again] {
            if (!failing) send(again);
        });
        return;
    }
    call.handler(response);
}

void S3Upload::onUploadProgress(int partNumber, qint64 sent) {
    if (failing) return;
    sentByPart[partNumber] = sent;
    reportProgress(false);
}

void S3Upload::putWhole() {
    const QByteArray body = file.readAll();
    if (body.size() != fileSize) {
        fail("FILE_ERROR", "读取本地文件失败 " + job.localFilename + ": " + file.errorString());
        return;
    }
    Call call;
    call.method = "PUT";
    call.body = body;
    call.headers = objectHeaders();
    call.handler = [this](const Response& response) {
        if (response.status / 100 != 2) {
            fail(response.status > 0 ? "HTTP_ERROR" : "NETWORK_ERROR",
                 "上传失败, " + describe(response.status, response.error, response.errorString,
                                         response.body));
            return;
        }
        succeed();
    };
    send(call);
}

void S3Upload::initiate() {
    Call call;
    call.method = "POST";
    call.query = {{"uploads", ""}};
    call.headers = objectHeaders();
    call.handler = [this](const Response& response) {
        const QString id = S3Answer::elementText(response.body, "UploadId");
        if (response.status / 100 != 2 || id.isEmpty()) {
            fail(response.status > 0 ? "HTTP_ERROR" : "NETWORK_ERROR",
                 "创建分片上传失败, " + describe(response.status, response.error,
                                                 response.errorString, response.body));
            return;
        }
        uploadId = id;
        schedule();
    };
    send(call);
}

void S3Upload::schedule() {
    while (!failing && partsInFlight < job.poolSize && nextPart <= partCount) {
        putPart(nextPart++);
    }
}

void S3Upload::putPart(int partNumber) {
    const qint64 offset = (partNumber - 1) * partSize;
    const qint64 length = std::min(partSize, fileSize - offset);
    QByteArray body;
    if (file.seek(offset)) body = file.read(length);
    if (body.size() != length) {
        fail("FILE_ERROR", "读取本地文件失败 " + job.localFilename + ": " + file.errorString());
        return;
    }
    ++partsInFlight;
    Call call;
    call.method = "PUT";
    call.query = {{"partNumber", QByteArray::number(partNumber)}, {"uploadId", uploadId.toUtf8()}};
    call.body = body;
    call.headers = {{"Content-Type", "application/octet-stream"}};
    call.partNumber = partNumber;
    call.handler = [this, partNumber, length](const Response& response) {
        --partsInFlight;
        if (response.status / 100 != 2 || response.etag.isEmpty()) {
            fail(response.status > 0 ? "HTTP_ERROR" : "NETWORK_ERROR",
                 QString("上传分片 %1 失败, ").arg(partNumber) +
                     (response.status / 100 == 2 ? QString("响应中没有ETag")
                                                 : describe(response.status, response.error,
                                                            response.errorString, response.body)));
            return;
        }
        etags.insert(partNumber, response.etag);
        sentByPart.remove(partNumber);
        confirmedBytes += length;
        reportProgress(false);
        if (etags.size() == partCount) {
            complete();
        } else {
            schedule();
        }
    };
    send(call);
}

void S3Upload::complete() {
    QByteArray xml = "<CompleteMultipartUpload>";
    for (auto it = etags.constBegin(); it != etags.constEnd(); ++it) {
        xml += "<Part><PartNumber>" + QByteArray::number(it.key()) + "</PartNumber><ETag>" +
               QString::fromUtf8(it.value()).toHtmlEscaped().toUtf8() + "</ETag></Part>";
    }
    xml += "</CompleteMultipartUpload>";
    Call call;
    call.method = "POST";
    call.query = {{"uploadId", uploadId.toUtf8()}};
    call.body = xml;
    call.headers = {{"Content-Type", "application/xml"}};
    call.handler = [this](const Response& response) {
        // The store may answer 200 and still report an error in the body.
        QString code;
        QString message;
        const bool s3Error = S3Answer::readError(response.body, code, message);
        if (response.status / 100 != 2 || s3Error) {
            const QString failure =
                "完成分片上传失败, " +
                describe(response.status, response.error, response.errorString, response.body);
            // The answer to an earlier attempt may have been lost after the
            // store had put the object together.
            if (code == "NoSuchUpload") {
                confirmCompleted(failure);
                return;
            }
            fail(response.status > 0 ? "HTTP_ERROR" : "NETWORK_ERROR", failure);
            return;
        }
        succeed();
    };
    send(call);
}

void S3Upload::confirmCompleted(const QString& failure) {
    Call call;
    call.method = "HEAD";
    call.handler = [this, failure](const Response& response) {
        // S3's entity tag of a multipart object: the MD5 of the parts' MD5s and
        // the part count. Stores that hash the assembled object give its MD5.
        QByteArray digests;
        for (const QByteArray& etag : etags) {
            digests += QByteArray::fromHex(QByteArray(etag).replace('"', ""));
        }
        const QByteArray multipart =
            QCryptographicHash::hash(digests, QCryptographicHash::Md5).toHex() + '-' +
            QByteArray::number(partCount);
        const QByteArray etag = QByteArray(response.etag).replace('"', "").toLower();
        if (response.status == 200 && response.contentLength == fileSize &&
            (etag == multipart || etag == wholeFileMd5())) {
            succeed();
            return;
        }
        fail("HTTP_ERROR", failure);
    };
    send(call);
}

QByteArray S3Upload::wholeFileMd5() {
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (!file.seek(0)) return QByteArray();
    for (qint64 left = fileSize; left > 0;) {
        const QByteArray chunk = file.read(std::min(left, kReadChunkBytes));
        if (chunk.isEmpty()) return QByteArray();
        md5.addData(chunk);
        left -= chunk.size();
    }
    return md5.result().toHex();
}

void S3Upload::reportProgress(bool force) {
    if (!force && sinceProgress.elapsed() < kProgressIntervalMs) return;
    sinceProgress.start();
    qint64 sent = confirmedBytes;
    for (const qint64 partSent : sentByPart) sent += partSent;
    // Parts sent again after a failure would move the figure backwards.
    reportedBytes = std::min(fileSize, std::max(reportedBytes, sent));
    const int percent = fileSize > 0 ? static_cast<int>(reportedBytes * 100 / fileSize) : 100;
    messages.progress({QString::number(percent),
                       QString::number(reportedBytes) + '/' + QString::number(fileSize)});
}

void S3Upload::fail(const QString& status, const QString& message) {
    if (failing || done) return;
    failing = true;
    failureStatus = status;
    failureMessage = message;
    for (QNetworkReply* reply : active.values()) reply->abort();
    if (uploadId.isEmpty()) {
        finishFailure();
        return;
    }
    // Parts already stored cost space until the multipart upload is aborted.
    Call call;
    call.method = "DELETE";
    call.query = {{"uploadId", uploadId.toUtf8()}};
    call.retry = false;
    call.whileFailing = true;
    call.handler = [this](const Response& response) {
        if (response.status / 100 != 2) {
            failureMessage +=
                "; 取消分片上传也失败, " +
                describe(response.status, response.error, response.errorString, response.body);
        }
        finishFailure();
    };
    send(call);
}

void S3Upload::finishFailure() {
    if (done) return;
    done = true;
    messages.failure(failureStatus, failureMessage);
    emit finished();
}

void S3Upload::succeed() {
    if (done || failing) return;
    done = true;
    ok = true;
    reportedBytes = fileSize;
    reportProgress(true);
    messages.success();
    emit finished();
}
