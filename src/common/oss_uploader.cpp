#include "oss_uploader.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QVariant>

#include "filepath.h"
#include "tool_run.h"
#include "utils.h"

namespace {

const ToolRun::Profile kProfile{
    /*startLog=*/"拉起进程错误: ",
    /*startFailure=*/"拉起上传程序失败 ",
    /*waitLog=*/"等待进程结束错误: ",
    /*waitFailure=*/"等待上传程序结束错误 ",
    /*killLog=*/"杀掉上传程序 ",
    /*logsProgram=*/true,
    /*logsErrorCode=*/true,
    /*closesInput=*/false,
};

}  // namespace

OssUploader::OssUploader(OssEntry entry, int poolSize)
    : QObject(nullptr), process(new QProcess), entry(std::move(entry)), poolSize(poolSize) {
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &OssUploader::kill,
            Qt::DirectConnection);
    connect(process, &QIODevice::readyRead, this, &OssUploader::slotReadUploaderOutput);
}

OssUploader::~OssUploader() { process->deleteLater(); }

bool OssUploader::exec() {
    // Judge each run by its own output only: an earlier run's "RESULT SUCCESS"
    // would otherwise turn any later failure into a success.
    output.clear();
    process->setProgram(
        Filepath::join({QCoreApplication::applicationDirPath(), "pvl_uploader.exe"}));

    QMap<QString, QVariant> job;
    job.insert("oss_ak", entry.ak);
    job.insert("oss_sk", entry.sk);
    job.insert("oss_bucket", entry.bucket);
    job.insert("oss_endpoint", entry.endpoint);
    job.insert("oss_region", entry.region);
    job.insert("oss_key", entry.key);
    job.insert("local_filename", entry.localFilename);
    job.insert("pool_size", poolSize);
    job.insert("disable_ssl", entry.disableSsl);
    job.insert("s3_force_path_style", entry.s3ForcePathStyle);
    if (entry.withUploadFile) job.insert("upload_file", entry.uploadFile);
    const QByteArray json =
        QJsonDocument::fromVariant(QVariant(job)).toJson(QJsonDocument::Compact);
    process->setArguments({Utils::argCyclicShiftEncode(Utils::fromUtf8UpToNul(json))});

    if (!ToolRun::run(*process, kProfile, output, errorMessage)) return false;
    return ToolRun::transferSucceeded(output, "上传程序意外退出", errorMessage);
}

void OssUploader::kill() { ToolRun::kill(*process, kProfile); }

std::string OssUploader::getErrorMessage() { return errorMessage.toUtf8().toStdString(); }

void OssUploader::setProgressCallback(std::function<void(int, std::string)> callback) {
    progressCallback = std::move(callback);
}

void OssUploader::slotReadUploaderOutput() {
    ToolRun::readUploadBlock(process->readAll(), output, errorMessage, progressCallback);
}
