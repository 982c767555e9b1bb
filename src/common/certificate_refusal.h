#pragma once

#include <QList>
#include <QSslError>
#include <QString>
#include <QStringList>

// The text of a TLS connection refused for its certificate: the host and each
// of Qt's reasons, so that a missing root, an expired certificate and another
// host's certificate read differently. Header only: the transfer tools share it
// without linking the shared code base.
namespace CertificateRefusal {

inline QString describe(const QString& host, const QList<QSslError>& errors) {
    QStringList reasons;
    for (const QSslError& error : errors) {
        if (!reasons.contains(error.errorString())) reasons.append(error.errorString());
    }
    return QString("服务器证书验证失败, 拒绝连接 %1: %2").arg(host, reasons.join("; "));
}

}  // namespace CertificateRefusal
