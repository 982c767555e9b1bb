#pragma once

// What the transfer tools' test programs share, the includes they all use too.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "log_capture.h"
#include "network.h"

namespace TransferTest {

using TestSupport::appPath;
using TestSupport::LogCapture;
using TestSupport::readFile;

// Skips a tool's case with the Windows tools when what it tests does not differ
// there (see placeTool).
constexpr char kSameOnWindows[] = "the same with the Windows tool";

// Places an executable shell script named `name` in the application folder.
void placeScript(const QString& name, const QString& body);
// Places the built tool `builtPath` in the application folder as `name`.
void placeTool(const QString& name, const QString& builtPath);
// True when WINDOWS_TOOLS_DIR puts the Windows builds of the tools, run under
// Wine, in the tools' place (see placeTool).
bool windowsTools();
// Removes the file `name` from the application folder.
void removeFromAppFolder(const QString& name);
// True when TRANSFER_TEST_TLS asks for the HTTPS variant of a suite: its
// servers then speak TLS with the test authority's "good.pem".
bool tls();

// A server process on 127.0.0.1 that prints "PORT <n>" once listening and ends
// when its standard input closes.
class ServerProcess {
public:
    ~ServerProcess();
    // Starts it and waits up to `timeoutMs` for the port.
    bool start(const QString& program, const QStringList& arguments, QString& error,
               int timeoutMs = 30000);
    void stop();
    int port() const { return listeningPort; }
    // The address of `path` on 127.0.0.1, "https" when `secure`.
    QString url(const QString& path) const;

    bool secure = false;

private:
    QProcess process;
    int listeningPort = 0;
};

// Starts tests/transfer/http_server.py on `folder`, logging requests to `log`,
// over TLS with `certificate` (see TestSupport::certificatePath) unless it is
// empty.
bool startHttpServer(ServerProcess& server, const QString& folder, const QString& log,
                     const QString& certificate, QString& error);

// Writes `size` pseudo-random bytes (fixed seed) to `path`.
bool writeRandomFile(const QString& path, qint64 size, unsigned seed = 1);

// A run of a runner (OssUploader or UrlDownloader): its outcome and, unless
// `withProgress` is false, its progress reports, each as its fields, value first.
using Report = std::vector<std::string>;
struct Outcome {
    bool ok = false;
    std::string error;
    std::vector<Report> progress;
};
template <class Runner>
Outcome outcomeOf(Runner& runner, bool withProgress = true) {
    Outcome outcome;
    if (withProgress) {
        runner.setProgressCallback([&outcome](int value, auto... texts) {
            outcome.progress.push_back({std::to_string(value), texts...});
        });
    }
    outcome.ok = runner.exec();
    outcome.error = runner.getErrorMessage();
    return outcome;
}

// GET through Qt, bounded in time, with "." and ".." segments of the path sent
// as written. False on a network error.
bool httpGet(const QString& url, QByteArray& body, QList<QNetworkReply::RawHeaderPair>& headers,
             int& status);

}  // namespace TransferTest
