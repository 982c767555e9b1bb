#include "filepath_platform.h"

#include <QFile>

#include <unistd.h>

namespace Filepath::Platform {

// Qt reads a POSIX entry with lstat first: its link flag is the entry's own.
bool isLink(const QFileInfo& entry) { return entry.isSymLink(); }

bool removeLink(const QString& path) { return unlink(QFile::encodeName(path).constData()) == 0; }

}  // namespace Filepath::Platform
