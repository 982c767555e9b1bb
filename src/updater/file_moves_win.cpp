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

// Opens `name` for writing with every kind of sharing, so that a flush never
// keeps another program out, and flushes it.
Outcome flushThrough(const std::wstring& name, DWORD flags) {
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return outcomeOf(FALSE);
    const BOOL flushed = FlushFileBuffers(handle);
    const Outcome outcome = outcomeOf(flushed);
    CloseHandle(handle);
    return outcome;
}

}  // namespace

// Without MOVEFILE_COPY_ALLOWED a move between volumes fails rather than
// becoming a copy; the long path form reaches files past 260 characters.
Outcome rename(const QString& from, const QString& to) {
    return outcomeOf(MoveFileExW(longPathForm(from).c_str(), longPathForm(to).c_str(), 0));
}

// A volume's handle flushes every file of it and the NTFS log in one call; only
// an administrator may open it, and only a volume with a drive letter is tried.
Outcome flushFileSystem(const QString& folder) {
    const std::wstring name = longPathForm(folder);
    wchar_t mountPoint[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(name.c_str(), mountPoint, MAX_PATH)) return outcomeOf(FALSE);
    std::wstring root(mountPoint);
    if (root.rfind(L"\\\\?\\", 0) == 0) root.erase(0, 4);
    if (root.size() != 3 || root[1] != L':') {
        return {false, false, "not a volume with a drive letter: " + QString::fromStdWString(root)};
    }
    return flushThrough(L"\\\\.\\" + root.substr(0, 2), 0);
}

// A link's own entry is opened, never what it points to.
Outcome flushFile(const QString& path) {
    return flushThrough(longPathForm(path), FILE_FLAG_OPEN_REPARSE_POINT);
}

Outcome flushFolder(const QString& folder) {
    return flushThrough(longPathForm(folder),
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

}  // namespace FileMoves
