#include "test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <random>

#include "verbatim_network_manager.h"

namespace TransferTest {

void placeScript(const QString& name, const QString& body) {
    removeFromAppFolder(name);
    QFile file(appPath(name));
    file.open(QIODevice::WriteOnly);
    file.write(("#!/bin/sh\n" + body + "\n").toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool tls() { return !qEnvironmentVariable("TRANSFER_TEST_TLS").isEmpty(); }

bool windowsTools() { return !qEnvironmentVariable("WINDOWS_TOOLS_DIR").isEmpty(); }

void placeTool(const QString& name, const QString& builtPath) {
    // With WINDOWS_TOOLS_DIR set the Windows build of the tool stands there,
    // run under Wine (WINE_RUN, WINEPREFIX) from the folder it was started in.
    if (windowsTools()) {
        placeScript(name,
                    QString("exec '%1' '%2' '%3/%4' \"$@\"")
                        .arg(qEnvironmentVariable("WINE_RUN"), qEnvironmentVariable("WINEPREFIX"),
                             qEnvironmentVariable("WINDOWS_TOOLS_DIR"), name));
        return;
    }
    removeFromAppFolder(name);
    QFile::link(builtPath, appPath(name));
}

void removeFromAppFolder(const QString& name) { QFile::remove(appPath(name)); }

ServerProcess::~ServerProcess() { stop(); }

bool ServerProcess::start(const QString& program, const QStringList& arguments, QString& error,
                          int timeoutMs) {
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        error = program + ": " + process.errorString();
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    QByteArray seen;
    while (!deadline.hasExpired()) {
        if (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            seen += line + "\n";
            if (line.startsWith("PORT ")) {
                listeningPort = line.mid(5).toInt();
                return listeningPort > 0;
            }
            continue;
        }
        if (process.state() != QProcess::Running) break;
        process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    error = program + " did not report its port: " + QString::fromUtf8(seen) +
            QString::fromUtf8(process.readAllStandardError());
    stop();
    return false;
}

void ServerProcess::stop() {
    if (process.state() == QProcess::NotRunning) return;
    process.closeWriteChannel();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString ServerProcess::url(const QString& path) const {
    return QString("%1://127.0.0.1:%2%3")
        .arg(secure ? "https" : "http")
        .arg(listeningPort)
        .arg(path);
}

bool startHttpServer(ServerProcess& server, const QString& folder, const QString& log,
                     const QString& certificate, QString& error) {
    QStringList arguments{PVL_TEST_SERVERS_DIR "/http_server.py", folder, log};
    if (!certificate.isEmpty()) {
        arguments.insert(1, "--tls");
        arguments.insert(2, TestSupport::certificatePath(certificate));
        arguments.insert(3, TestSupport::certificatePath("server.key"));
    }
    server.secure = !certificate.isEmpty();
    return server.start(PVL_PYTHON3, arguments, error);
}

bool writeRandomFile(const QString& path, qint64 size, unsigned seed) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    std::mt19937 random(seed);
    QByteArray chunk(1 << 20, '\0');
    qint64 left = size;
    while (left > 0) {
        const int n = static_cast<int>(std::min<qint64>(left, chunk.size()));
        for (int i = 0; i < n; i += 4) {
            const quint32 value = random();
            for (int j = 0; j < 4 && i + j < n; ++j)
                chunk[i + j] = static_cast<char>(value >> (8 * j));
        }
        if (file.write(chunk.constData(), n) != n) return false;
        left -= n;
    }
    return true;
}

bool httpGet(const QString& url, QByteArray& body, QList<QNetworkReply::RawHeaderPair>& headers,
             int& status) {
    VerbatimNetworkManager manager;  // keeps "." and ".." in the path
    QEventLoop loop;
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(url)));
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, reply, &QNetworkReply::abort);
    if (!reply->isFinished()) loop.exec();
    status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    body = reply->readAll();
    headers = reply->rawHeaderPairs();
    const bool ok = status > 0;
    delete reply;
    return ok;
}

}  // namespace TransferTest
