#include "zipper.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>

#include <glog/logging.h>

#include <utility>

#include "archive_output.h"
#include "filepath.h"
#include "tool_run.h"

namespace {

constexpr int kMaxTestRounds = 5;

const ToolRun::Profile kProfile{
    /*startLog=*/"拉起7z.exe失败: ",
    /*startFailure=*/"拉起压缩程序失败 ",
    /*waitLog=*/"等待7z.exe结束出错: ",
    /*waitFailure=*/"等待压缩程序结束错误 ",
    /*killLog=*/"杀掉压缩程序 ",
    /*logsProgram=*/false,
    /*logsErrorCode=*/true,
    // Nothing is ever written to the tool: an archive that asks for a password
    // then fails at once instead of blocking the caller for ever.
    /*closesInput=*/true,
};

}  // namespace

Zipper::Zipper(QString zipFile, QString dirPath, QString zipType)
    : QObject(nullptr),
      process(this),
      zipFile(std::move(zipFile)),
      dirPath(std::move(dirPath)),
      zipType(std::move(zipType)) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, &Zipper::kill, Qt::DirectConnection);
    }
    process.setProgram(
        Filepath::join({QCoreApplication::applicationDirPath(), "7z", "pvl_7z.exe"}));
    connect(&process, &QIODevice::readyRead, this, &Zipper::read7zOutput);
    connect(&process, &QProcess::readyReadStandardError, this, &Zipper::read7zOutput);
    connect(&process, &QProcess::readyReadStandardOutput, this, &Zipper::read7zOutput);
}

void Zipper::setProgressCallback(std::function<void(int)> callback) {
    progressCallback = std::move(callback);
}

bool Zipper::compress() {
    const bool removed = Filepath::remove(zipFile);
    LOG(INFO) << "删除目标压缩包 " << zipFile.toUtf8().constData() << " " << (removed ? "1" : "0");

    process.setArguments({"-sccUTF-8", "-r", "a", "-t" + zipType, "-bsp1", zipFile, dirPath, "-y"});
    if (!runProgress()) return false;

    for (int round = 0; round < kMaxTestRounds; ++round) {
        if (testZip()) return true;
        repairZip();
    }
    return false;
}

bool Zipper::uncompress() {
    process.setArguments(
        {"-sccUTF-8", "-bsp1", "x", zipFile, QString("-o%1").arg(dirPath), "-aoa"});
    return runProgress();
}

bool Zipper::testZip() {
    process.setArguments({"-sccUTF-8", "t", zipFile});
    return runProgress();
}

void Zipper::repairZip() {
    process.setWorkingDirectory(Filepath::dir(zipFile));

    const QStringList names = ArchiveOutput::damagedEntries(process.readAllStandardError());
    if (names.isEmpty()) return;

    LOG(INFO) << "Zip Has Error";
    // A plain update keeps an entry whose file on disk is not newer than the
    // entry, which right after packing is every entry: "-ux2z2" takes the file
    // from disk when the entry is newer or as old. "-spd" takes every name
    // literally: an entry named "a*.bin" must not pull in "a-private.bin".
    QStringList arguments{"-sccUTF-8", "u", "-ux2z2", "-spd", zipFile};
    // Entry names come from the archive: one that begins like a switch or a list
    // file ("-sdel", "@list") must reach the tool as a plain name.
    for (const QString& name : names) {
        if (name.startsWith('-') || name.startsWith('@')) {
            arguments.append("--");
            break;
        }
    }
    for (const QString& name : names) {
        LOG(INFO) << "repairZip: errFile: " << name.toUtf8().constData();
        arguments.append(name);
    }
    process.setArguments(arguments);
    output.clear();
    ToolRun::run(process, kProfile, output, errorMessage);
}

void Zipper::kill() { ToolRun::kill(process, kProfile); }

std::string Zipper::getErrorMessage() const { return errorMessage.toUtf8().toStdString(); }

bool Zipper::runProgress() {
    output.clear();
    if (!ToolRun::run(process, kProfile, output, errorMessage)) return false;
    LOG(INFO) << "取消压缩包校验";
    return ArchiveOutput::succeeded(output, process.exitCode(), errorMessage);
}

void Zipper::read7zOutput() {
    // Only standard output is read here; standard error stays buffered for a
    // repair that follows a failed test.
    const QString chunk = ArchiveOutput::readChunk(process.readAll(), output);
    if (!progressCallback) return;
    const int value = ArchiveOutput::percentage(chunk);
    if (value < 0) return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now - lastProgressSecs > 1) {
        progressCallback(value);
        lastProgressSecs = now;
    }
}
