#include "file_moves.h"

#include <windows.h>

#include "long_path.h"

namespace FileMoves {

namespace {

// A scanner or indexer that opens a file without sharing its deletion makes a
// rename or delete of it fail with one of these until it lets go.
bool isHeld(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_LOCK_VIOLATION;
}

Outcome outcomeOf(BOOL succeeded) {
    if (succeeded) return {true, false, QString()};
    const DWORD code = GetLastError();
    return {false, isHeld(code),
            qt_error_string(static_cast<int>(code)) + " (" + QString::number(code) + ")"};
}

}  // namespace

// Without MOVEFILE_COPY_ALLOWED a move between volumes fails rather than
// becoming a copy; the long path form reaches files past 260 characters.
Outcome rename(const QString& from, const QString& to) {
    return outcomeOf(MoveFileExW(longPathForm(from).c_str(), longPathForm(to).c_str(), 0));
}

// A link to a folder is removed as the folder entry it is; a read-only file
// cannot be deleted until the flag is cleared.
Outcome removeFile(const QString& path) {
    const std::wstring name = longPathForm(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return outcomeOf(RemoveDirectoryW(name.c_str()));
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return outcomeOf(DeleteFileW(name.c_str()));
}

}  // namespace FileMoves
