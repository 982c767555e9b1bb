#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "log_capture.h"

namespace TransferTest {

// Places an executable shell script named `name` in the application folder.
void placeScript(const QString& name, const QString& body);
// Places the built tool `builtPath` in the application folder as `name`.
void placeTool(const QString& name, const QString& builtPath);
// True when WINDOWS_TOOLS_DIR puts the Windows builds of the tools, run under
// Wine, in the tools' place (see placeTool).
bool windowsTools();
// Removes the file `name` from the application folder.
void removeFromAppFolder(const QString& name);

using LogCapture = TestSupport::LogCapture;

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
    QString url(const QString& path) const;

private:
    QProcess process;
    int listeningPort = 0;
};

// Writes `size` pseudo-random bytes (fixed seed) to `path`.
bool writeRandomFile(const QString& path, qint64 size, unsigned seed = 1);
QByteArray readFile(const QString& path);

}  // namespace TransferTest

namespace TransferTest {

// main() of a runner test: re-runs itself in an app folder of its own, sets up glog (to
// standard error, so that nothing lands in files) and runs every test.
int runTests(int argc, char** argv);

// GET through Qt, bounded in time, with "." and ".." segments of the path sent
// as written. False on a network error.
bool httpGet(const QString& url, QByteArray& body, QList<QNetworkReply::RawHeaderPair>& headers,
             int& status);

}  // namespace TransferTest
