#include "file_names.h"

#include <windows.h>

namespace FileNames {

// NTFS and FAT keep the letter case of a name but find it in any case.
Qt::CaseSensitivity caseSensitivity() { return Qt::CaseInsensitive; }

bool samePath(const QString& a, const QString& b) {
    return CompareStringOrdinal(reinterpret_cast<LPCWCH>(a.utf16()), a.size(),
                                reinterpret_cast<LPCWCH>(b.utf16()), b.size(), TRUE) == CSTR_EQUAL;
}

// Upper-casing ASCII letters is the same in every table.
bool comparisonKey(const QString& name, QString& key) {
    for (const QChar c : name) {
        if (c.unicode() >= 0x80) return false;
    }
    key = name.toUpper();
    return true;
}

}  // namespace FileNames
