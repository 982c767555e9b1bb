#include "utils.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include "filepath.h"
#include "utils_desktop.h"
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

// --- Desktop and machine helpers ---

bool openUrlInBrowser(const QString& url) {
    if (QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode))) return true;
    UtilsDesktop::startRegisteredBrowser(UtilsPlatform::registeredHttpCommand(), url);
    return false;
}

bool openDir(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void copyTextToClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

QPoint getWgtGlobalPos(QWidget* widget) { return widget->mapToGlobal(QPoint(0, 0)); }

QRect getCenterRectBySize(const QRect& outer, int width, int height) {
    const int left = outer.left() + (outer.width() - width) / 2;
    const int top = outer.top() + (outer.height() - height) / 2;
    return QRect(left, top, width, height);
}

QString floatToStr(float value, int decimals) {
    return QString::number(static_cast<double>(value), 'f', decimals);
}

QString createUuid() { return QUuid::createUuid().toString().remove('{').remove('}').remove('-'); }

bool getMac(QString& mac) {
    return UtilsDesktop::macFromAdapters(AdapterAddress::statusRequests(), mac);
}

// --- Transfer tools ---

QString argCyclicShiftEncode(const QString& text) {
    // The tools hold the same digits; each must stay between 0 and 7.
    static const char kKey[] = "5031764206";
    static const int kKeyLength = 10;
    QByteArray bytes = text.toUtf8();
    for (int i = 0; i < bytes.size(); ++i) {
        const int shift = kKey[i % kKeyLength] - '0';
        const unsigned int byte = static_cast<unsigned char>(bytes[i]);
        bytes[i] = static_cast<char>(((byte << shift) | (byte >> (8 - shift))) & 0xFF);
    }
    return QString::fromLatin1(bytes.toBase64());
}

}  // namespace Utils

namespace UtilsDesktop {

bool browserFromOpenCommand(const QString& command, QString& browser) {
    if (command.split(' ').size() < 2) return false;
    QString program;
    const int closingQuote = command.startsWith('"') ? command.indexOf('"', 1) : -1;
    if (closingQuote > 0) {
        // A quoted program path may hold blanks ("C:\Program Files\..."): the quotes,
        // not the first blank, end it.
        program = command.mid(1, closingQuote - 1);
    } else {
        program = command.left(command.indexOf(' '));
        program.remove('"');
    }
    if (program.isEmpty()) return false;
    browser = program;
    return true;
}

QProcess* startRegisteredBrowser(const QString& command, const QString& url) {
    QString browser;
    if (!browserFromOpenCommand(command, browser)) return nullptr;

    auto* process = new QProcess;
    // Nothing waits for the browser; the object goes once the child is over. A
    // child that never starts emits no finished(), so that case releases it too.
    QObject::connect(
        process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process,
        [process](int, QProcess::ExitStatus) { process->deleteLater(); }, Qt::DirectConnection);
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) process->deleteLater();
        },
        Qt::DirectConnection);
    // The program itself is started, with the address as one argument: no
    // command interpreter sees the address, so "&", "^" or "%NAME%" in it stay
    // text, and a browser path with blanks stays one path.
    process->start(browser, QStringList{url}, QIODevice::ReadWrite);
    return process;
}

bool macFromAdapters(const std::vector<AdapterAddress::StatusRequest>& adapters, QString& mac) {
    mac.clear();
    for (const AdapterAddress::StatusRequest& request : adapters) {
        AdapterAddress::Address address{};
        if (!request(address)) continue;
        mac = QString::asprintf("%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2],
                                address[3], address[4], address[5]);
    }
    return !mac.isEmpty();
}

}  // namespace UtilsDesktop
