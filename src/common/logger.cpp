#include "logger.h"

#include <QCoreApplication>
#include <QStringList>

#include <gflags/gflags.h>
#include <glog/logging.h>

#include <cstdio>

#include "filepath.h"

namespace Logger {

namespace {

constexpr char kVersion[] = "5.1.0.5";

}  // namespace

void init(const QString& name, int stderrThreshold) {
    static bool hasCalled = false;
    if (hasCalled) return;
    hasCalled = true;

    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 10;
    setbuf(stderr, nullptr);

    // glog keeps the pointer it is given: the bytes must outlive every log call.
    static const QByteArray programName = QCoreApplication::arguments().value(0).toUtf8();
    google::InitGoogleLogging(programName.constData());
    google::SetStderrLogging(stderrThreshold);

    Filepath::createDir(Filepath::join({QCoreApplication::applicationDirPath(), "log"}));

    const QString upperName = name.toUpper();
    google::SetLogDestination(google::GLOG_INFO, QString("log/%1_I_").arg(upperName).toUtf8());
    google::SetLogDestination(google::GLOG_WARNING, QString("log/%1_W_").arg(upperName).toUtf8());
    google::SetLogDestination(google::GLOG_ERROR, QString("log/%1_E_").arg(upperName).toUtf8());
    google::SetLogFilenameExtension(".LOG");

    LOG(INFO) << "版本: " << kVersion;
}

}  // namespace Logger
