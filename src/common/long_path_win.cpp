#include "long_path.h"

#include <QDir>
#include <QFileInfo>

std::wstring longPathForm(const QString& path) {
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith("\\\\?\\") || native.startsWith("\\\\.\\")) return native.toStdWString();
    if (native.startsWith("\\\\")) {
        native = "\\\\?\\UNC\\" + native.mid(2);
    } else {
        native = "\\\\?\\" + native;
    }
    return native.toStdWString();
}
