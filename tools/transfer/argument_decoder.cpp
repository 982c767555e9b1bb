#include "argument_decoder.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include "transfer_argument_key.h"

namespace ArgumentDecoder {

namespace {

bool isBase64(const QByteArray& text) {
    if (text.size() % 4 != 0) return false;
    int padding = 0;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=') {
            ++padding;
            continue;
        }
        // Padding may only end the text.
        if (padding > 0) return false;
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!alphabet) return false;
    }
    return padding <= 2;
}

}  // namespace

bool decode(const QString& argument, QByteArray& json, QString& error) {
    const QByteArray base64 = argument.toLatin1();
    if (argument.size() != base64.size() || !isBase64(base64)) {
        error = "参数不是有效的Base64文本";
        return false;
    }
    QByteArray bytes = QByteArray::fromBase64(base64);
    for (int i = 0; i < bytes.size(); ++i) {
        const int shift = TransferArgumentKey::shiftAt(i);
        const unsigned int byte = static_cast<unsigned char>(bytes[i]);
        bytes[i] = static_cast<char>(((byte >> shift) | (byte << (8 - shift))) & 0xFF);
    }
    json = bytes;
    return true;
}

bool decodeJob(const QString& argument, QJsonObject& job, QString& error) {
    QByteArray json;
    if (!decode(argument, json, error)) return false;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        error = "参数不是JSON对象: " + parseError.errorString();
        return false;
    }
    job = document.object();
    return true;
}

}  // namespace ArgumentDecoder
