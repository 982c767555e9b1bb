#include "app_folder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cstdio>

namespace TestSupport {

namespace {

const char kInOwnAppFolder[] = "PVL_TEST_IN_OWN_APP_FOLDER";

}  // namespace

int reexecInOwnAppFolder(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kInOwnAppFolder)) return -1;
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QString copy = folder.path() + "/" + QFileInfo(app.applicationFilePath()).fileName();
    if (!folder.isValid() || !QFile::copy(app.applicationFilePath(), copy)) {
        std::fprintf(stderr, "cannot copy the test executable into %s\n",
                     qPrintable(folder.path()));
        return 1;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kInOwnAppFolder, "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    child.start(copy, app.arguments().mid(1));
    if (!child.waitForStarted(-1) || !child.waitForFinished(-1)) return 1;
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
}

}  // namespace TestSupport
