#pragma once

#include <QByteArray>
#include <QString>

// Reads "<target>.part.meta", which a download writes beside its partial file
// as the JSON object {"url": ..., "validator": ...}. The file may be anything a
// crash, a full disk or another program left there.
namespace PartMeta {

// The validator recorded for `url`; empty when `meta` records another URL, no
// validator, or is no such object: the partial file then cannot be continued.
QByteArray validatorFor(const QByteArray& meta, const QString& url);

}  // namespace PartMeta
