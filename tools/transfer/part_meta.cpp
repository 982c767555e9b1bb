#include "part_meta.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace PartMeta {

QByteArray validatorFor(const QByteArray& meta, const QString& url) {
    if (meta.size() > kMaxBytes) return QByteArray();
    const QJsonObject saved = QJsonDocument::fromJson(meta).object();
    if (saved.value("url").toString() != url) return QByteArray();
    return saved.value("validator").toString().toLatin1();
}

}  // namespace PartMeta
