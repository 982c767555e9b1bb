#include "file_sync.h"

#include <io.h>
#include <windows.h>

namespace FileSync {

bool toDisk(QFile& file, QString& error) {
    if (!file.flush()) {
        error = file.errorString();
        return false;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
        error = QString("FlushFileBuffers 失败, 错误码 %1").arg(GetLastError());
        return false;
    }
    return true;
}

}  // namespace FileSync
