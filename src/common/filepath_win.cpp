#include "filepath_platform.h"

#include <windows.h>

#include "long_path.h"

namespace Filepath::Platform {

// Junctions and mount points are reparse points as symbolic links are, and
// anyone may create a junction; Qt 5 reports them as plain folders. A file that
// is a reparse point without being a link (a deduplicated or cloud file) holds
// its data as any file does, so only folders and dangling entries are asked.
bool isLink(const QFileInfo& entry) {
    if (entry.isSymLink()) return true;
    if (entry.isFile()) return false;
    const DWORD attributes = GetFileAttributesW(longPathForm(entry.filePath()).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A link to a folder, and a junction, is itself a folder entry: removing it as a
// folder removes the link and leaves the folder it points to as it is.
bool removeLink(const QString& path) {
    const std::wstring name = longPathForm(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(name.c_str()) != 0;
    return DeleteFileW(name.c_str()) != 0;
}

}  // namespace Filepath::Platform
