#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSslCertificate>

// A QNetworkAccessManager that sends requests whose path has "." or ".."
// segments (also written "%2E") with the path exactly as given, through
// VerbatimHttpReply; every other request goes through Qt's own stack.
class VerbatimNetworkManager : public QNetworkAccessManager {
    Q_OBJECT

public:
    // A request attribute holding the request target (the encoded path and
    // query) to send; without it the target is the URL's, fully encoded.
    static const QNetworkRequest::Attribute kRequestTargetAttribute;

    using QNetworkAccessManager::QNetworkAccessManager;

    // The request target `request` is sent with.
    static QByteArray requestTarget(const QNetworkRequest& request);
    // True when the path of `requestTarget` has a segment that is "." or ".."
    // once percent-decoded.
    static bool hasDotSegments(const QByteArray& requestTarget);
    // `request`, for HTTPS with peer and host name verified and TLS 1.2 at
    // least, trusting the system's roots and those given to trustAlso; every
    // request this manager sends gets it. Only HTTPS touches the TLS set-up,
    // whose system roots cost a program start a tenth of a second.
    static QNetworkRequest withTlsPolicy(QNetworkRequest request);
    // Roots to trust besides the system's, for the rest of the program.
    static void trustAlso(const QList<QSslCertificate>& roots);

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoing) override;
};
