#pragma once

#include <QString>

#include <vector>

// Puts an extracted hot update over the application folder so that neither a
// failure nor an interruption leaves the folder half-written.
//
// The package is extracted into stagingDir(); install() then moves every entry
// over the application folder, folders merged and existing files replaced, each
// replaced file first moved aside, so that a move that fails puts every replaced
// file back. The work folders live in one folder inside the application folder,
// so that every move is a rename on one file system. Should the process be killed
// part-way, recover() in the next run restores the moved-aside files.
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

    // True when an interrupted run left work folders behind.
    bool hasLeftovers() const;
    // Moves every moved-aside file back to its place and removes the work folders.
    // False when a file could not be restored; what is left stays for a later try.
    bool recover();
    // Replaces any staging folder with a fresh, empty one.
    bool prepare();
    // Moves every entry of the staging folder over the application folder. On
    // false, every move made has been undone (entries moved in go back to the
    // staging folder, replaced files to their places), or, where even that failed,
    // the moved-aside files stay for recover().
    bool install();
    // Removes the staging folder and the moved-aside files of a finished install.
    // Moved-aside files that still wait to be restored stay.
    void cleanUp();

    QString errorMessage() const;

private:
    struct Move {
        QString from;
        QString to;
    };

    bool mergeFolder(const QString& relative);
    bool swapFolder(const QString& from, const QString& to, const QString& relative);
    bool moveEntry(const QString& from, const QString& to);
    void undoMoves();
    bool restoreReplaced(const QString& relative);
    void removeObsolete();
    bool fail(const QString& text);

    QString appDir;
    QString workDir;
    QString staging;
    QString replaced;
    std::vector<Move> moves;
    QString error;
};
