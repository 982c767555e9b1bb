#include "tool_main.h"

#include <QFile>
#include <QSslCertificate>

#include <cstdio>

#include "argument_decoder.h"
#include "verbatim_network_manager.h"

namespace ToolMain {

namespace {

// How both tools use HTTPS; printed after each tool's own usage.
const char kTrustUsage[] =
    "\n"
    "HTTPS always verifies the server's certificate and host name (TLS 1.2 or\n"
    "later) against the system's trusted roots: the Windows certificate store on\n"
    "Windows, the system's certificate folders elsewhere. A refused certificate\n"
    "fails at once, not tried again: RESULT NETWORK_ERROR naming the host and\n"
    "the reasons (expired, self-signed, unknown issuer, host name mismatch).\n"
    "Environment:\n"
    "  SSL_CERT_FILE  a PEM file of further root certificates to trust, besides\n"
    "                 the system's (a company or test certificate authority)\n";

}  // namespace

bool readJob(const QStringList& arguments, const char* usage, MessageWriter& messages,
             QJsonObject& job, int& exitCode) {
    if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
        std::fputs(usage, stdout);
        std::fputs(kTrustUsage, stdout);
        exitCode = 0;
        return false;
    }
    exitCode = 2;
    if (arguments.size() != 2) {
        std::fputs(usage, stderr);
        std::fputs(kTrustUsage, stderr);
        messages.failure("ARGUMENT_ERROR", "需要且只需要一个参数");
        return false;
    }
    QString error;
    if (!ArgumentDecoder::decodeJob(arguments[1], job, error)) {
        messages.failure("ARGUMENT_ERROR", error);
        return false;
    }
    return true;
}

bool setUpTrust(MessageWriter& messages, int& exitCode) {
    const QString extraRoots = qEnvironmentVariable(kExtraRootsVariable);
    if (extraRoots.isEmpty()) return true;
    QFile file(extraRoots);
    const QList<QSslCertificate> roots = file.open(QIODevice::ReadOnly)
                                             ? QSslCertificate::fromData(file.readAll())
                                             : QList<QSslCertificate>();
    if (roots.isEmpty()) {
        exitCode = 2;
        messages.failure("ARGUMENT_ERROR", QString("%1 指定的证书文件无法读取或没有证书: %2")
                                               .arg(kExtraRootsVariable, extraRoots));
        return false;
    }
    VerbatimNetworkManager::trustAlso(roots);
    return true;
}

}  // namespace ToolMain
