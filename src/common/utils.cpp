#include "utils.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QUrl>

#include "filepath.h"
#include "transfer_argument_key.h"
#include "utils_platform.h"

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
    QNetworkReply* reply = manager.get(request);
    if (!reply->isFinished()) loop.exec();

    if (reply->error() != QNetworkReply::NoError) {
        error = "请求失败: " + reply->errorString();
        reply->deleteLater();
        return false;
    }
    body = reply->readAll();
    const int announced = reply->rawHeader("Content-Length").toInt(nullptr, 10);
    if (announced == body.size()) return true;
    error = QString("返回数据读取失败, 接收到的数据长度 %1 响应的长度 %2 %3")
                .arg(body.size())
                .arg(announced)
                .arg(reply->errorString());
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
