#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The tools' side of the job argument: Base64, then every byte rotated right by
// the key digit of its index (the exact inverse of the runners' encoding).
namespace ArgumentDecoder {

// Decodes the argument into the job's JSON bytes. False with a message in `error`
// when the argument is not padded standard Base64.
bool decode(const QString& argument, QByteArray& json, QString& error);
// Decodes the argument and parses it as one JSON object.
bool decodeJob(const QString& argument, QJsonObject& job, QString& error);

}  // namespace ArgumentDecoder
