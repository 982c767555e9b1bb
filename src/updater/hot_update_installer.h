#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "file_moves.h"

// Puts an extracted hot update over the application folder so that neither a
// failure, an interruption nor a power cut leaves the folder half-written.
//
// apply() extracts the package into a fresh staging folder, then moves every
// entry over the application folder, folders merged and existing files
// replaced, each replaced file first moved aside. The work folders "staging",
// "replaced" and "obsolete" live in one folder inside the application folder,
// so that every move is a rename on one file system; nothing else in that
// folder is touched.
//
// There is one way back, driven by what is on disk: every installed file is at
// any moment in its place or moved aside, and recover() puts the moved-aside
// files back, whether the process was killed part-way (then the next run calls
// it) or a move failed (then apply() calls it, after undoing what it safely
// can). Nothing is ever deleted while it is the only copy of an installed file.
//
// The staged files are written to the disk before the first of them is renamed
// into the application folder, and the renames before apply() or recover()
// return, so that what the caller deletes next (the package, the old files) is
// never the only copy of what a power cut would lose.
//
// Files no longer needed (the replaced version, what is left of the staging
// folder) are only moved into the obsolete folder; freeObsolete() deletes them
// later, once the client is back.
//
// Links and junctions are never followed: one found in the place of the work
// folder or of a work folder is removed as a link, and inside the work folders
// they are moved and deleted as entries. A rename or delete that another
// program holds up for a moment (a virus scanner) is tried again, for a bounded
// time, each wait logged once as a WARNING.
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

    // Renames entries through `rename` in place of the system's, so that tests
    // can make chosen renames fail.
    using Rename = std::function<FileMoves::Outcome(const QString& from, const QString& to)>;
    void useRename(Rename rename);

    // Removes a link found in the place of the work folder or of a work folder,
    // leaving what it points to as it is. False when one could not be removed:
    // then no work folder may be used this run.
    bool dropLinkedWorkFolders();
    // True when a run was interrupted part-way: a staging folder, or moved-aside
    // files, are left. An obsolete folder alone is no interruption.
    bool wasInterrupted() const;
    // Moves every moved-aside file back to its place, the entry found there
    // moved into the obsolete folder first (and back, should the restore fail),
    // discards the staging folder and writes the renames to the disk. False when
    // a file could not be restored; what is left stays for a later try.
    bool recover();
    // Extracts the package with `extract` into a fresh, empty staging folder
    // (its one argument; true when the whole package is there), writes it to the
    // disk, then moves every entry over the application folder and the replaced
    // files into the obsolete folder, writes the renames to the disk and
    // discards what is left. True when the update is in place. On false, the
    // moves are undone in reverse order up to the first that fails (entries
    // moved in go back to the staging folder, replaced files to their places);
    // then the moved-aside files are restored as recover() restores them, or,
    // where even that fails, stay for the next recover(). Entries that would
    // land in a work folder (names compared as the file system compares them)
    // are refused.
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
        // A folder moved in from the staging folder: the names it held then.
        // It goes back only while it holds nothing else.
        QStringList stagedNames;
    };

    // Replaces any staging folder with a fresh, empty one.
    bool prepare();
    // Moves every entry of the staging folder over the application folder, then
    // the replaced files into the obsolete folder, and writes the renames to the
    // disk; rolls back on false.
    bool install();
    // Undoes the moves up to the first that fails, then restores what is left
    // moved aside.
    void rollBack();
    // Restores the moved-aside files and discards the staging folder.
    bool restoreAll();
    // Discards the staging folder and an empty folder of moved-aside files.
    // Moved-aside files that still wait to be restored stay.
    void cleanUp();

    enum class Swap { Done, NotPossible, Failed };

    bool mergeFolder(const QString& relative);
    bool mergeFolder(const QString& relative, const QFileInfoList& staged);
    Swap swapFolder(const QFileInfoList& staged, const QString& from, const QString& to,
                    const QString& relative);
    bool moveEntry(const QString& from, const QString& to,
                   const QStringList& stagedNames = QStringList());
    bool undoMoves();
    bool restoreReplaced(const QString& relative, QString& asideFolder);
    bool restoreFile(const QString& from, const QString& target, const QString& aside);
    bool flushStaging();
    bool flushRenames();
    bool makeDurable(const QStringList& files, const QStringList& folders);
    bool isWorkFolder(const QString& path) const;
    bool holdsWorkFolder(const QString& path) const;
    bool moveToObsolete(const QString& path, QString& message, QString* movedTo = nullptr);
    QString newObsoleteFolder();
    QString firstFreeObsoleteName() const;
    bool discard(const QString& path);
    bool fail(const QString& text);
    bool patiently(const QString& path, const std::function<FileMoves::Outcome()>& attempt,
                   QString& systemError);
    bool renamePath(const QString& from, const QString& to, QString& message);

    QString appDir;
    QString workDir;
    QString staging;
    QString replaced;
    QString obsolete;
    std::vector<Move> moves;
    // The folders whose entries changed since the last flush.
    QStringList changedFolders;
    Rename renameEntry;
    bool fileByFileLogged = false;
    QString error;
    int patienceLeftMs = 0;
};
