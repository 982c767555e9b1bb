#pragma once

#include <QString>

// The renames and deletes that put an update in place, as the platform makes
// them, with its own error when one fails.
namespace FileMoves {

struct Outcome {
    bool done = false;
    // Another program holds the entry for now (a virus scanner or an indexer
    // reading a file just written): the same call may work a moment later.
    bool held = false;
    // The system's own text for the failure.
    QString error;
};

// Renames `from` to `to` on the same volume: all or nothing, never a copy and
// delete, and never following a link. On Windows `to` must not exist.
Outcome rename(const QString& from, const QString& to);
// Deletes the file or link at `path` itself, read-only or not.
Outcome removeFile(const QString& path);

}  // namespace FileMoves
