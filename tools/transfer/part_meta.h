#pragma once

#include <QByteArray>
#include <QString>

// Reads "<target>.part.meta", which a download writes beside its partial file
// as the JSON object {"url": ..., "validator": ...}. The file may be anything a
// crash, a full disk or another program left there.
namespace PartMeta {

// What the tool writes is a few hundred bytes; a file larger than this is no
// file it wrote, and is read no further.
constexpr qint64 kMaxBytes = 64 * 1024;

// The validator recorded for `url`; empty when `meta` records another URL, no
// validator, is larger than kMaxBytes or is no such object: the partial file
// then cannot be continued.
QByteArray validatorFor(const QByteArray& meta, const QString& url);

}  // namespace PartMeta
