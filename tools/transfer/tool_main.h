#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QStringList>
#include <QTimer>

#include "message_writer.h"

// What both transfer tools' main functions share.
namespace ToolMain {

// True with the decoded job when the command line holds exactly one decodable
// argument. Otherwise false with the exit code to return: 0 after printing
// `usage` for --help/-h, 2 for a bad command line (reported as
// "RESULT ARGUMENT_ERROR <message>").
bool readJob(const QStringList& arguments, const char* usage, MessageWriter& messages,
             QJsonObject& job, int& exitCode);

// The environment variable naming a PEM file of roots to trust besides the
// system's (the Windows certificate store on Windows).
constexpr char kExtraRootsVariable[] = "SSL_CERT_FILE";

// Makes the tool's TLS connections trust the roots of kExtraRootsVariable
// besides the system's, when it is set (VerbatimNetworkManager::withTlsPolicy
// sets the rest). False with exit code 2 (reported as "RESULT ARGUMENT_ERROR
// <message>") when it names a file without a readable certificate.
bool setUpTrust(MessageWriter& messages, int& exitCode);

// Starts `job` from the event loop and runs the loop until the job reports
// `finished`; the exit code is 0 when it succeeded, 1 otherwise.
template <class Job>
int runToCompletion(QCoreApplication& app, Job& job) {
    QObject::connect(&job, &Job::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, &job, &Job::start);
    app.exec();
    return job.succeeded() ? 0 : 1;
}

}  // namespace ToolMain
