#include "file_moves.h"

#include <QFile>

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

}  // namespace

Outcome rename(const QString& from, const QString& to) {
    return outcomeOf(
        ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()));
}

Outcome removeFile(const QString& path) {
    return outcomeOf(::unlink(QFile::encodeName(path).constData()));
}

}  // namespace FileMoves
