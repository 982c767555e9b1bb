#include "file_sync.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace FileSync {

bool toDisk(QFile& file, QString& error) {
    if (!file.flush()) {
        error = file.errorString();
        return false;
    }
    if (::fsync(file.handle()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace FileSync
