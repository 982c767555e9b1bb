#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// AWS Signature Version 4 for requests to an S3-compatible object store.
class AwsSigner {
public:
    using QueryItems = QList<QPair<QByteArray, QByteArray>>;

    AwsSigner(QString accessKey, QString secretKey, QString region, QString service = "s3");

    // Percent-encodes every byte outside A-Z a-z 0-9 "-._~" (and "/" when
    // `keepSlash`), upper-case hexadecimal, as the canonical request wants it.
    static QByteArray uriEncode(const QByteArray& bytes, bool keepSlash);
    static QByteArray sha256Hex(const QByteArray& bytes);
    // Query items (raw, unencoded) in canonical form: encoded, sorted, "k=v".
    static QByteArray canonicalQuery(const QueryItems& items);

    // The "Authorization" value for a request at `time` (UTC). `headers` maps
    // lower-case names to values and is signed whole; it must hold "host",
    // "x-amz-date" (see amzDate) and "x-amz-content-sha256" (the payload hash).
    // `encodedPath` is the path exactly as sent.
    QByteArray authorization(const QByteArray& method, const QByteArray& encodedPath,
                             const QueryItems& query, const QMap<QByteArray, QByteArray>& headers,
                             const QByteArray& payloadHash, const QDateTime& time) const;
    static QByteArray amzDate(const QDateTime& time);

private:
    QString accessKey;
    QString secretKey;
    QString region;
    QString service;
};
