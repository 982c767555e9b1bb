#include "tool_main.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cstdio>

#include "argument_decoder.h"

namespace ToolMain {

bool readJob(const QStringList& arguments, const char* usage, MessageWriter& messages,
             QJsonObject& job, int& exitCode) {
    if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
        std::fputs(usage, stdout);
        exitCode = 0;
        return false;
    }
    exitCode = 2;
    if (arguments.size() != 2) {
        std::fputs(usage, stderr);
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
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QString extraRoots = qEnvironmentVariable(kExtraRootsVariable);
    if (!extraRoots.isEmpty()) {
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
        // Roots set on the configuration replace those Qt would load on
        // demand, so the system's are named too.
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + roots);
    }
    QSslConfiguration::setDefaultConfiguration(tls);
    return true;
}

}  // namespace ToolMain
