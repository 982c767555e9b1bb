#include "verbatim_network_manager.h"

#include <QSslConfiguration>
#include <QUrl>

#include "verbatim_http_reply.h"

const QNetworkRequest::Attribute VerbatimNetworkManager::kRequestTargetAttribute =
    static_cast<QNetworkRequest::Attribute>(QNetworkRequest::User + 1);

QByteArray VerbatimNetworkManager::requestTarget(const QNetworkRequest& request) {
    const QVariant given = request.attribute(kRequestTargetAttribute);
    if (given.isValid()) return given.toByteArray();
    const QUrl url = request.url();
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    return target;
}

bool VerbatimNetworkManager::hasDotSegments(const QByteArray& requestTarget) {
    const int queryStart = requestTarget.indexOf('?');
    const QByteArray path = queryStart < 0 ? requestTarget : requestTarget.left(queryStart);
    for (const QByteArray& segment : path.split('/')) {
        const QByteArray decoded = QByteArray::fromPercentEncoding(segment);
        if (decoded == "." || decoded == "..") return true;
    }
    return false;
}

namespace {

QList<QSslCertificate>& extraRoots() {
    static QList<QSslCertificate> roots;
    return roots;
}

}  // namespace

void VerbatimNetworkManager::trustAlso(const QList<QSslCertificate>& roots) {
    extraRoots() += roots;
}

QNetworkRequest VerbatimNetworkManager::withTlsPolicy(QNetworkRequest request) {
    if (request.url().scheme().toLower() != "https") return request;
    QSslConfiguration tls = request.sslConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!extraRoots().isEmpty()) {
        // Roots set on a configuration replace those Qt would load on
        // demand, so the system's are named too.
        static const QList<QSslCertificate> all =
            QSslConfiguration::systemCaCertificates() + extraRoots();
        tls.setCaCertificates(all);
    }
    request.setSslConfiguration(tls);
    return request;
}

QNetworkReply* VerbatimNetworkManager::createRequest(Operation operation,
                                                     const QNetworkRequest& given,
                                                     QIODevice* outgoing) {
    const QNetworkRequest request = withTlsPolicy(given);
    const QString scheme = request.url().scheme().toLower();
    const QByteArray target = requestTarget(request);
    if ((scheme == "http" || scheme == "https") && hasDotSegments(target)) {
        return new VerbatimHttpReply(operation, request, outgoing, target, this);
    }
    return QNetworkAccessManager::createRequest(operation, request, outgoing);
}
