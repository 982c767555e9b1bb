#pragma once

#include <QString>

// The renames and flushes that put an update in place, as the platform
// makes them, with its own error when one fails.
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

// Writes everything the system still holds in memory for the file system that
// holds `folder` (data and names) to the disk. Not done where the volume cannot
// be opened (no rights, a network share, Wine): the caller then flushes file by
// file.
Outcome flushFileSystem(const QString& folder);
// Writes the data of the file at `path` to the disk. A link is not followed and
// has nothing to write.
Outcome flushFile(const QString& path);
// Writes the entries of `folder` (names made, renamed or deleted in it) to the disk.
Outcome flushFolder(const QString& folder);

}  // namespace FileMoves
