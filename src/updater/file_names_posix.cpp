#include "file_names.h"

namespace FileNames {

Qt::CaseSensitivity caseSensitivity() { return Qt::CaseSensitive; }

bool samePath(const QString& a, const QString& b) { return a == b; }

bool comparisonKey(const QString& name, QString& key) {
    key = name;
    return true;
}

}  // namespace FileNames
