#include "oss_uploader.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QVariant>

#include <glog/logging.h>

#include "filepath.h"
#include "utils.h"

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

    const std::string commandLine =
        (process->program() + " " + process->arguments().join(" ")).toStdString();
    LOG(INFO) << commandLine;

    process->start(QIODevice::ReadWrite);
    if (!process->waitForStarted(-1)) {
        LOG(ERROR) << "拉起进程错误: " << process->program().toStdString() << " "
                   << static_cast<int>(process->error()) << " "
                   << process->errorString().toStdString();
        errorMessage = "拉起上传程序失败 " + process->errorString();
        return false;
    }
    if (!process->waitForFinished(-1)) {
        LOG(ERROR) << "等待进程结束错误: " << process->program().toStdString() << " "
                   << static_cast<int>(process->error()) << " "
                   << process->errorString().toStdString();
        errorMessage = "等待上传程序结束错误 " + process->errorString();
        return false;
    }
    LOG(INFO) << commandLine << "\n" << output.toStdString();

    if (!output.contains("RESULT")) {
        errorMessage = "上传程序意外退出";
        return false;
    }
    return output.contains("RESULT SUCCESS");
}

void OssUploader::kill() {
    LOG(WARNING) << "杀掉上传程序 " << process->program().toStdString();
    process->kill();
}

std::string OssUploader::getErrorMessage() { return errorMessage.toUtf8().toStdString(); }

void OssUploader::setProgressCallback(std::function<void(int, std::string)> callback) {
    progressCallback = std::move(callback);
}

void OssUploader::slotReadUploaderOutput() {
    // One read is one message: the tool writes and flushes each message at once.
    const QString block = Utils::fromUtf8UpToNul(process->readAll());
    output.append(block.toUtf8());

    if (progressCallback && block.startsWith("PROGRESS")) {
        const QStringList fields = block.trimmed().split(' ');
        if (fields.size() == 3) {
            progressCallback(fields[1].toInt(nullptr, 10), fields[2].toUtf8().toStdString());
        }
    }
    if (block.startsWith("RESULT")) {
        const QStringList fields = block.split(' ');
        if (fields.size() > 2) errorMessage = fields.mid(2).join(' ').trimmed();
    }
}
