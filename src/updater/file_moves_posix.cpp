#include "file_moves.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace FileMoves {

namespace {

Outcome outcomeOf(int result) {
    if (result == 0) return {true, false, QString()};
    const int code = errno;
    return {false, code == EBUSY || code == ETXTBSY, qt_error_string(code)};
}

// Runs `flush` on a descriptor of `path` opened with `flags`.
Outcome flushThrough(const QString& path, int flags, int (*flush)(int)) {
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // A link is an entry without data of its own.
        if (errno == ELOOP && (flags & O_NOFOLLOW)) return {true, false, QString()};
        return outcomeOf(-1);
    }
    const Outcome outcome = outcomeOf(flush(fd));
    ::close(fd);
    return outcome;
}

int syncFileSystem(int fd) { return ::syncfs(fd); }

}  // namespace

Outcome rename(const QString& from, const QString& to) {
    return outcomeOf(
        ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()));
}

Outcome flushFileSystem(const QString& folder) {
    return flushThrough(folder, O_DIRECTORY, syncFileSystem);
}

Outcome flushFile(const QString& path) {
    return flushThrough(path, O_NOFOLLOW | O_NONBLOCK, ::fdatasync);
}

Outcome flushFolder(const QString& folder) {
    return flushThrough(folder, O_DIRECTORY | O_NOFOLLOW, ::fsync);
}

}  // namespace FileMoves
