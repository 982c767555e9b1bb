#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

// What the tool runners (Zipper, OssUploader, UrlDownloader) share: one blocking
// run of an external tool with its log lines and failure texts, the kill, and
// for the two transfer tools the reading of their "PROGRESS" and "RESULT"
// messages. The runners own their process and their output; these functions
// only act on what they are handed, on the calling thread.
namespace ToolRun {

// One runner's wording. The log heads are followed by the program path when
// `logsProgram`, the process error code when `logsErrorCode` (each then a blank)
// and the process's error text; the failure texts by the error text alone.
struct Profile {
    const char* startLog;
    const char* startFailure;
    const char* waitLog;
    const char* waitFailure;
    const char* killLog;
    bool logsProgram;
    bool logsErrorCode;
    // Closes the tool's standard input once it has started, so that a tool
    // asking for input fails instead of waiting for ever.
    bool closesInput;
};

// Logs the command line at INFO, starts `process` read-write and waits for its
// end without a time limit, then logs the command line, a line feed and
// `output`, which the runner's reader fills during the wait. False when the
// tool did not start or the wait failed: then one ERROR line is logged and
// `errorMessage` set. The exit code is the caller's to judge.
bool run(QProcess& process, const Profile& profile, const QByteArray& output,
         QString& errorMessage);

// Logs the kill line at WARNING with the program path (empty before any run)
// and ends the tool at once; a process that is not running is left alone.
void kill(QProcess& process, const Profile& profile);

// The fields of a transfer tool's progress message: `block` begins with
// "PROGRESS" and, trimmed and split at every blank, has exactly `count` fields.
// Empty otherwise. Each read of the tool's output is one message.
QStringList progressFields(const QString& block, int count);
QList<QByteArray> progressFields(const QByteArray& block, int count);

// When `block` is a result message with a text after its status word, sets
// `errorMessage` to that text, read up to its first NUL byte and trimmed;
// otherwise, as for "RESULT SUCCESS", leaves it.
void readResult(const QByteArray& block, QString& errorMessage);

// One read of the upload tool's standard output, taken as one message: its text
// up to the first NUL byte is appended to `output` as UTF-8, a progress message
// of 3 fields goes to `progress` when that is set, a result message's text to
// `errorMessage` (see readResult).
void readUploadBlock(const QByteArray& block, QByteArray& output, QString& errorMessage,
                     const std::function<void(int, std::string)>& progress);
// The same for the download tool: the bytes are appended raw and a progress
// message has 4 fields.
void readDownloadBlock(const QByteArray& block, QByteArray& output, QString& errorMessage,
                       const std::function<void(int, std::string, std::string)>& progress);

// A transfer tool's outcome, once it has ended: without any "RESULT" in its
// output false with `unexpectedExit` as failure text, otherwise whether the
// output holds "RESULT SUCCESS". The exit code does not count.
bool transferSucceeded(const QByteArray& output, const char* unexpectedExit, QString& errorMessage);

}  // namespace ToolRun
