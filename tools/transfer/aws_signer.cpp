#include "aws_signer.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <algorithm>

namespace {

QByteArray hmac(const QByteArray& key, const QByteArray& message) {
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

}  // namespace

AwsSigner::AwsSigner(QString accessKey, QString secretKey, QString region, QString service)
    : accessKey(std::move(accessKey)),
      secretKey(std::move(secretKey)),
      region(std::move(region)),
      service(std::move(service)) {}

QByteArray AwsSigner::uriEncode(const QByteArray& bytes, bool keepSlash) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved || (keepSlash && c == '/')) {
            encoded.append(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded.append('%').append(kHex[byte >> 4]).append(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

QByteArray AwsSigner::sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray AwsSigner::canonicalQuery(const QueryItems& items) {
    QList<QByteArray> pairs;
    for (const auto& item : items) {
        pairs.append(uriEncode(item.first, false) + '=' + uriEncode(item.second, false));
    }
    std::sort(pairs.begin(), pairs.end());
    QByteArray joined;
    for (int i = 0; i < pairs.size(); ++i) {
        if (i > 0) joined.append('&');
        joined.append(pairs[i]);
    }
    return joined;
}

QByteArray AwsSigner::amzDate(const QDateTime& time) {
    return time.toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1();
}

QByteArray AwsSigner::authorization(const QByteArray& method, const QByteArray& encodedPath,
                                    const QueryItems& query,
                                    const QMap<QByteArray, QByteArray>& headers,
                                    const QByteArray& payloadHash, const QDateTime& time) const {
    QByteArray canonicalHeaders;
    QByteArray signedHeaders;
    // QMap keeps the lower-case names sorted, as the canonical request needs them.
    for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
        canonicalHeaders += it.key() + ':' + it.value().simplified() + '\n';
        if (!signedHeaders.isEmpty()) signedHeaders += ';';
        signedHeaders += it.key();
    }
    const QByteArray canonicalRequest = method + '\n' + encodedPath + '\n' + canonicalQuery(query) +
                                        '\n' + canonicalHeaders + '\n' + signedHeaders + '\n' +
                                        payloadHash;

    const QByteArray date = time.toUTC().toString("yyyyMMdd").toLatin1();
    const QByteArray scope =
        date + '/' + region.toUtf8() + '/' + service.toUtf8() + "/aws4_request";
    const QByteArray stringToSign =
        "AWS4-HMAC-SHA256\n" + amzDate(time) + '\n' + scope + '\n' + sha256Hex(canonicalRequest);

    QByteArray key = hmac("AWS4" + secretKey.toUtf8(), date);
    key = hmac(key, region.toUtf8());
    key = hmac(key, service.toUtf8());
    key = hmac(key, "aws4_request");
    const QByteArray signature = hmac(key, stringToSign).toHex();

    return "AWS4-HMAC-SHA256 Credential=" + accessKey.toUtf8() + '/' + scope +
           ", SignedHeaders=" + signedHeaders + ", Signature=" + signature;
}
