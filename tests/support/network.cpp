#include "network.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace TestSupport {

QString certificatePath(const QString& name) {
    return QString(PVL_TEST_CERTIFICATES_DIR) + "/" + name;
}

bool trustTestAuthority() {
    QFile file(certificatePath("ca.pem"));
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QList<QSslCertificate> roots = QSslCertificate::fromData(file.readAll());
    if (roots.isEmpty()) return false;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + roots);
    QSslConfiguration::setDefaultConfiguration(tls);
    qputenv("SSL_CERT_FILE", file.fileName().toLocal8Bit());
    return true;
}

const std::vector<RefusedCertificate>& refusedCertificates() {
    static const std::vector<RefusedCertificate> certificates{
        {"untrusted.pem",
         "The issuer certificate of a locally looked up certificate could not be found; "
         "No certificates could be verified"},
        {"expired.pem", "The certificate has expired"},
        {"wronghost.pem",
         "The host name did not match any of the valid hosts for this certificate"},
    };
    return certificates;
}

const std::vector<BrokenAnswer>& brokenAnswers() {
    static const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    static const std::vector<BrokenAnswer> answers{
        {"ChunkCutOff", chunked + "10\r\nabc", true},
        {"NoLastChunk", chunked + "3\r\nabc\r\n", true},
        {"ChunkSizeNotHexadecimal", chunked + "zz\r\nabc\r\n0\r\n\r\n", false},
        // 2^64 + 3: wrapped to 64 bits it would read as 3.
        {"ChunkSizeOverflows", chunked + "10000000000000003\r\nabc\r\n0\r\n\r\n", false},
        {"ChunkLargerThanAnyFile", chunked + "7fffffffffffffff\r\nabc", false},
        {"ChunkWithoutLineEnd", chunked + "3\r\nabcde\r\n0\r\n\r\n", false},
        {"NegativeLength", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc", false},
        {"LengthNotANumber", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nabc", false},
        {"TwoLengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabc",
         false},
        {"ClosedBeforeLength", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true},
    };
    return answers;
}

}  // namespace TestSupport
