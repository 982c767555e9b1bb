#pragma once

#include <QFileInfo>
#include <QString>

#include <functional>
#include <vector>

#include "file_moves.h"

// Puts an extracted hot update over the application folder so that neither a
// failure nor an interruption leaves the folder half-written.
//
// apply() extracts the package into a fresh staging folder, then moves every
// entry over the application folder, folders merged and existing files
// replaced, each replaced file first moved aside, so that a move that fails puts
// every replaced file back. The work folders "staging", "replaced" and "obsolete" live in one
// folder inside the application folder, so that every move is a rename on one
// file system; nothing else in that folder is touched. Should the process be
// killed part-way, recover() in the next run restores the moved-aside files.
//
// Files no longer needed (the replaced version, what is left of the staging
// folder) are only moved into the obsolete folder; freeObsolete() deletes them
// later, once the client is back.
//
// Links and junctions are never followed: one found in the place of a work
// folder is removed as a link, and inside the work folders they are moved and
// deleted as entries. A rename or delete that another program holds up for a
// moment (a virus scanner) is tried again, for a bounded time, each wait logged
// once as a WARNING.
//
// Failures are a false result plus errorMessage(), which is never cleared.
// Used from one thread at a time.
class HotUpdateInstaller {
public:
    // `appDir`: the folder the update is installed over; `workDir`: a folder
    // inside it that holds the work folders.
    HotUpdateInstaller(QString appDir, QString workDir);

    // Where the package is to be extracted.
    QString stagingDir() const;

    // Removes a link found in the place of a work folder, leaving what it points
    // to as it is. False when one could not be removed: then no work folder may
    // be used this run.
    bool dropLinkedWorkFolders();
    // True when a run was interrupted part-way: a staging folder, or moved-aside
    // files, are left. An obsolete folder alone is no interruption.
    bool wasInterrupted() const;
    // Moves every moved-aside file back to its place and discards the staging
    // folder. False when a file could not be restored; what is left stays for a
    // later try.
    bool recover();
    // Extracts the package with `extract` into a fresh, empty staging folder
    // (its one argument; true when the whole package is there), then moves every
    // entry over the application folder and the replaced files into the obsolete
    // folder, and discards what is left. True when the update is in place. On
    // false, every move made has been undone (entries moved in go back to the
    // staging folder, replaced files to their places), or, where even that
    // failed, the moved-aside files stay for recover(). Entries that would land
    // in a work folder (names compared as the file system compares them) are
    // refused.
    bool apply(const std::function<bool(const QString& stagingDir)>& extract);
    // Deletes the obsolete folder. False, with errorMessage(), when something in
    // it cannot be deleted yet (a running program's file on Windows); it stays for
    // a later try and is never restored.
    bool freeObsolete();

    QString errorMessage() const;

private:
    struct Move {
        QString from;
        QString to;
    };

    // Replaces any staging folder with a fresh, empty one.
    bool prepare();
    // Moves every entry of the staging folder over the application folder, then
    // the replaced files into the obsolete folder; undoes every move on false.
    bool install();
    // Discards the staging folder and an empty folder of moved-aside files.
    // Moved-aside files that still wait to be restored stay.
    void cleanUp();

    enum class Swap { Done, NotPossible, Failed };

    bool mergeFolder(const QString& relative);
    bool mergeFolder(const QString& relative, const QFileInfoList& staged);
    Swap swapFolder(const QFileInfoList& staged, const QString& from, const QString& to,
                    const QString& relative);
    bool moveEntry(const QString& from, const QString& to);
    void undoMoves();
    bool restoreReplaced(const QString& relative);
    bool isWorkFolder(const QString& path) const;
    bool holdsWorkFolder(const QString& path) const;
    bool moveToObsolete(const QString& path, QString& message);
    bool discard(const QString& path);
    bool fail(const QString& text);
    bool patiently(const QString& path, const std::function<FileMoves::Outcome()>& attempt,
                   QString& systemError);
    bool renamePath(const QString& from, const QString& to, QString& message);
    bool removeFile(const QString& path);

    QString appDir;
    QString workDir;
    QString staging;
    QString replaced;
    QString obsolete;
    std::vector<Move> moves;
    QString error;
    int patienceLeftMs = 0;
};
