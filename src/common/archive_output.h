#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Reads what the archive tool prints, apart from the process that runs it (the
// Zipper), so that any output can be fed to it. Each function takes bytes or
// text and returns what it found; none keeps state.
namespace ArchiveOutput {

// One read of the tool's standard output: decoded as UTF-8 up to its first NUL
// byte, appended to `output` as UTF-8, and returned as text.
QString readChunk(const QByteArray& chunk, QByteArray& output);

// The first percentage ("12%") of a read's text, 0 to 99; -1 when the first one
// is above 99 or there is none.
int percentage(const QString& chunk);

// Whether a run whose tool printed `output` and exited with `exitCode` succeeded:
// "Everything is Ok" anywhere, or the exit code 0. On failure `errorMessage`
// takes the last line with text, never the first line; when no line follows the
// first it is left as it was.
bool succeeded(const QByteArray& output, int exitCode, QString& errorMessage);

// The names of the entries a failed test found damaged, in the order found, from
// the "ERROR: CRC Failed : <name>" lines of its standard error.
QStringList damagedEntries(const QByteArray& errorOutput);

}  // namespace ArchiveOutput
