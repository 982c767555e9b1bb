#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What the network tests share: the test certificate authority and the table
// of answers whose HTTP framing is broken.
namespace TestSupport {

// A file made by tests/transfer/make_certificates.sh (the CTest fixture
// "test_certificates"): "ca.pem", "server.key", "good.pem", "expired.pem",
// "wronghost.pem" or "untrusted.pem".
QString certificatePath(const QString& name);

// Trusts the test authority in this process (Qt's default TLS configuration,
// the system's roots kept) and in the tools it starts (SSL_CERT_FILE).
// False when ca.pem cannot be read.
bool trustTestAuthority();

// A server certificate no client may accept (made by make_certificates.sh),
// and Qt's reasons for refusing it as QSslError::errorString() gives them.
struct RefusedCertificate {
    const char* certificate;
    const char* reasons;
};
const std::vector<RefusedCertificate>& refusedCertificates();

// An answer to a GET, status line to the last byte the server sends before it
// closes the connection, whose body no client may take for complete.
struct BrokenAnswer {
    const char* name;
    QByteArray bytes;
    // The connection closes before the body's announced end: a downloader
    // tries it again.
    bool cutOff;
};
const std::vector<BrokenAnswer>& brokenAnswers();

}  // namespace TestSupport
