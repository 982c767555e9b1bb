#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

#include <functional>
#include <string>

// Packs, extracts, tests and repairs archives by running the bundled 7-Zip
// command-line tool "7z/pvl_7z.exe" of the application folder. Every operation
// blocks the calling thread until the tool has ended, without a time limit; the
// output handler and the progress callback run on that thread meanwhile.
// Needs the application object; `kill` runs when it is about to quit.
class Zipper : public QObject {
    Q_OBJECT

public:
    // `zipFile` is the archive; `dirPath` is where `uncompress` extracts to and
    // what `compress` packs; `zipType` is the archive type `compress` asks for.
    Zipper(QString zipFile, QString dirPath, QString zipType);

    // Receives progress percentages 0 to 99 of packing and extraction, at most
    // one per two whole-second ticks of the clock. Set it before an operation.
    void setProgressCallback(std::function<void(int)> callback);

    // Replaces the archive with a new one of `dirPath`, then tests it, repairing
    // damaged entries after each failed test, five tests at most. True when a
    // test passed.
    bool compress();
    // Extracts the archive into `dirPath`, overwriting existing files.
    bool uncompress();
    // Tests the archive. A false result leaves the damaged entries' names
    // buffered for `repairZip`.
    bool testZip();
    // Right after a failed test: updates the damaged entries from the files of
    // the same relative names below the archive's folder, which stays the tool's
    // working directory for every later run. Does nothing when the test named no
    // damaged entry. The outcome is left to the next test.
    void repairZip();
    // Ends a running tool at once. Safe to call from the thread that emits the
    // application's quit notification while another thread waits in a run.
    void kill();
    // The last failure text as UTF-8; a later success does not clear it.
    std::string getErrorMessage() const;

private:
    bool runProgress();
    void read7zOutput();

    QProcess process;
    QString zipFile;
    QString dirPath;
    QString zipType;
    QByteArray output;
    std::function<void(int)> progressCallback;
    qint64 lastProgressSecs = 0;
    QString errorMessage;
};
