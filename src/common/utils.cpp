#include "utils.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QUrl>

#include "filepath.h"
#include "utils_platform.h"

namespace Utils {

namespace {

// Text the program's messages are made of stops at the first NUL byte.
QString fromUtf8UpToNul(const QByteArray& bytes) {
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

}  // namespace

bool readSimpleFile(const QString& path, QString& error, QString& content) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "文件打开失败: " + file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    content = fromUtf8UpToNul(bytes);
    file.close();
    if (file.error() != QFileDevice::NoError) {
        error = "文件读取失败: " + file.errorString();
        return false;
    }
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
    file.close();
    if (written != data.size()) {
        error = QString("文件写入失败, 写入的长度 %1 数据长度 %2 %3")
                    .arg(written)
                    .arg(data.size())
                    .arg(file.errorString());
        return false;
    }
    return true;
}

bool simpleHttpGet(const QString& url, QByteArray& body, QString& error) {
    QNetworkAccessManager manager;
    QEventLoop loop;
    QObject::connect(&manager, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit);
    // Qt 5's default redirect policy follows nothing: a 3xx is the answer.
    const QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
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

// --- Desktop and machine helpers ---

// --- Transfer tools ---

}  // namespace Utils
