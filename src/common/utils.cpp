#include "utils.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslConfiguration>
#include <QUrl>

#include "certificate_refusal.h"
#include "filepath.h"
#include "transfer_argument_key.h"
#include "utils_platform.h"

#include <algorithm>

namespace {

// Why the body's end cannot be trusted, or "" when it can. Qt's stack takes a
// negative or non-numeric Content-Length for none and ends a chunked body
// quietly at a chunk-size line it cannot read (or, on some platforms, at a
// closed connection), so a chunked answer has no end to check at all.
QString framingFault(const QNetworkReply* reply) {
    if (reply->rawHeader("Transfer-Encoding").toLower().contains("chunked")) {
        return "分块传输的响应没有可以核对的长度";
    }
    if (!reply->hasRawHeader("Content-Length")) return QString();
    const QByteArray length = reply->rawHeader("Content-Length").trimmed();
    const bool digits = !length.isEmpty() && std::all_of(length.begin(), length.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
    return digits ? QString() : "响应的 Content-Length 无效: " + QString::fromLatin1(length);
}

}  // namespace

namespace Utils {

QString fromUtf8UpToNul(const QByteArray& bytes) {
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

bool readSimpleFile(const QString& path, QString& error, QString& content) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "文件打开失败: " + file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    // close() clears the device's error state, so the read's own error decides.
    if (file.error() != QFileDevice::NoError) {
        error = "文件读取失败: " + file.errorString();
        return false;
    }
    content = fromUtf8UpToNul(bytes);
    return true;
}

bool simpleWriteFile(const QString& path, const QByteArray& data, QString& error) {
    Filepath::createDir(Filepath::dir(path));
    QFile file(path);
    // Unbuffered, so that the count written is what reached the system: a
    // buffered write "succeeds" and only the flush in close() fails (disk full).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = "文件打开失败: " + file.errorString();
        return false;
    }
    const qint64 written = file.write(data);
    // Taken before close(), which resets the text to "Unknown error".
    const QString cause = file.errorString();
    file.close();
    if (written != data.size()) {
        error = QString("文件写入失败, 写入的长度 %1 数据长度 %2 %3")
                    .arg(written)
                    .arg(data.size())
                    .arg(cause);
        return false;
    }
    return true;
}

bool simpleHttpGet(const QString& url, QByteArray& body, QString& error) {
    QNetworkAccessManager manager;
    QEventLoop loop;
    QObject::connect(&manager, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit);
    // Qt 5's default redirect policy follows nothing: a 3xx is the answer.
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    // Left to itself Qt asks for gzip, unpacks the body and drops "Content-Length";
    // the body as the server stores it keeps the length check meaningful.
    request.setRawHeader("Accept-Encoding", "identity");
    // Peer and host name are verified (Qt's default), with TLS 1.2 at least.
    QSslConfiguration tls = request.sslConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    request.setSslConfiguration(tls);
    QString refusal;
    QObject::connect(&manager, &QNetworkAccessManager::sslErrors,
                     [&refusal](QNetworkReply* refused, const QList<QSslError>& errors) {
                         refusal = CertificateRefusal::describe(refused->url().host(), errors);
                     });
    QNetworkReply* reply = manager.get(request);
    if (!reply->isFinished()) loop.exec();

    if (reply->error() != QNetworkReply::NoError) {
        const bool refused =
            reply->error() == QNetworkReply::SslHandshakeFailedError && !refusal.isEmpty();
        error = "请求失败: " + (refused ? refusal : reply->errorString());
        reply->deleteLater();
        return false;
    }
    body = reply->readAll();
    const int announced = reply->rawHeader("Content-Length").toInt(nullptr, 10);
    const QString fault = framingFault(reply);
    if (announced == body.size() && fault.isEmpty()) return true;
    error = QString("返回数据读取失败, 接收到的数据长度 %1 响应的长度 %2 %3")
                .arg(body.size())
                .arg(announced)
                .arg(fault.isEmpty() ? reply->errorString() : fault);
    reply->deleteLater();
    return false;
}

bool simpleDownloadFile(const QString& url, const QString& path, QString& error) {
    QByteArray body;
    if (!simpleHttpGet(url, body, error)) return false;
    return simpleWriteFile(path, body, error);
}

QString runSimpleCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(UtilsPlatform::resolveProgram(program), arguments, QIODevice::ReadWrite);
    process.waitForStarted(-1);
    process.waitForFinished(-1);
    return fromUtf8UpToNul(process.readAllStandardOutput());
}

void openWindowsDefaultAppsSettings() { UtilsPlatform::openDefaultAppsSettings(); }

// --- Transfer tools ---

QString argCyclicShiftEncode(const QString& text) {
    QByteArray bytes = text.toUtf8();
    for (int i = 0; i < bytes.size(); ++i) {
        const int shift = TransferArgumentKey::shiftAt(i);
        const unsigned int byte = static_cast<unsigned char>(bytes[i]);
        bytes[i] = static_cast<char>(((byte << shift) | (byte >> (8 - shift))) & 0xFF);
    }
    return QString::fromLatin1(bytes.toBase64());
}

}  // namespace Utils
