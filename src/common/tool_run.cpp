#include "tool_run.h"

#include <glog/logging.h>

#include <string>

#include "utils.h"

namespace ToolRun {

namespace {

std::string commandLine(const QProcess& process) {
    return (process.program() + " " + process.arguments().join(' ')).toStdString();
}

// Sets the failure text and logs its line, so that the two cannot drift apart.
void fail(const QProcess& process, const Profile& profile, const char* logHead, const char* failure,
          QString& errorMessage) {
    LOG(ERROR) << logHead << (profile.logsProgram ? process.program().toStdString() + " " : "")
               << (profile.logsErrorCode ? std::to_string(static_cast<int>(process.error())) + " "
                                         : "")
               << process.errorString().toStdString();
    errorMessage = failure + process.errorString();
}

template <class Text>
QList<Text> fieldsOf(const Text& block, int count) {
    if (!block.startsWith("PROGRESS")) return {};
    const QList<Text> fields = block.trimmed().split(' ');
    return fields.size() == count ? fields : QList<Text>();
}

}  // namespace

bool run(QProcess& process, const Profile& profile, const QByteArray& output,
         QString& errorMessage) {
    const std::string line = commandLine(process);
    LOG(INFO) << line;
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        fail(process, profile, profile.startLog, profile.startFailure, errorMessage);
        return false;
    }
    if (profile.closesInput) process.closeWriteChannel();
    if (!process.waitForFinished(-1)) {
        fail(process, profile, profile.waitLog, profile.waitFailure, errorMessage);
        return false;
    }
    LOG(INFO) << line << "\n" << output.toStdString();
    return true;
}

void kill(QProcess& process, const Profile& profile) {
    LOG(WARNING) << profile.killLog << process.program().toStdString();
    process.kill();
}

QStringList progressFields(const QString& block, int count) { return fieldsOf(block, count); }

QList<QByteArray> progressFields(const QByteArray& block, int count) {
    return fieldsOf(block, count);
}

void readResult(const QByteArray& block, QString& errorMessage) {
    if (!block.startsWith("RESULT")) return;
    const QList<QByteArray> fields = block.split(' ');
    if (fields.size() <= 2) return;
    QByteArray text = fields[2];
    for (int i = 3; i < fields.size(); ++i) text += ' ' + fields[i];
    // Decoded before trimming, so that Unicode blanks at the end of the text and
    // blanks in front of a NUL byte go as well.
    errorMessage = Utils::fromUtf8UpToNul(text).trimmed();
}

void readUploadBlock(const QByteArray& block, QByteArray& output, QString& errorMessage,
                     const std::function<void(int, std::string)>& progress) {
    // The collected output keeps the text up to the first NUL byte of each read.
    const QString text = Utils::fromUtf8UpToNul(block);
    const QByteArray kept = text.toUtf8();
    output.append(kept);
    if (progress) {
        const QStringList fields = progressFields(text, 3);
        if (!fields.isEmpty())
            progress(fields[1].toInt(nullptr, 10), fields[2].toUtf8().toStdString());
    }
    readResult(kept, errorMessage);
}

void readDownloadBlock(const QByteArray& block, QByteArray& output, QString& errorMessage,
                       const std::function<void(int, std::string, std::string)>& progress) {
    if (block.isEmpty()) return;
    output.append(block);
    if (progress) {
        const QList<QByteArray> fields = progressFields(block, 4);
        if (!fields.isEmpty()) {
            progress(fields[1].toInt(nullptr, 10), fields[2].toStdString(),
                     fields[3].toStdString());
        }
    }
    readResult(block, errorMessage);
}

bool transferSucceeded(const QByteArray& output, const char* unexpectedExit,
                       QString& errorMessage) {
    if (!output.contains("RESULT")) {
        errorMessage = unexpectedExit;
        return false;
    }
    return output.contains("RESULT SUCCESS");
}

}  // namespace ToolRun
