#pragma once

// What the end-to-end tests need to know of the platform the updater runs on:
// natively here, or as the Windows program under Wine (UPDATER_TARGET=wine,
// with the Windows programs named by UPDATER_EXE, SEVEN_ZIP_EXE,
// START_RECORDER_EXE and TASKKILL_EXE). The tests themselves are written once.

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

class UpdaterTarget {
public:
    // The target of this test run, from the environment.
    static const UpdaterTarget& current();

    bool windows() const { return windows_; }

    // File names in the application folder.
    QString updaterName() const { return windows_ ? "updater.exe" : "updater"; }
    QString taskkillName() const { return windows_ ? "taskkill.exe" : "taskkill"; }

    // The programs of this target: the updater, the archive tool, the recording
    // stand-in for programs the updater starts, and the taskkill stand-in.
    QString updaterBinary() const { return updater_; }
    QString sevenZipBinary() const { return sevenZip_; }
    QString startRecorderBinary() const { return startRecorder_; }
    QString taskkillBinary() const { return taskkill_; }
    // Windows only: holds a file open as a virus scanner does (file_holder_win.cpp).
    QString fileHolderBinary() const { return fileHolder_; }

    // Sets `process` up to run `program`, one of this target's programs.
    void prepare(QProcess& process, const QString& program, const QStringList& arguments) const;

    // Makes `folder` the updater's temporary folder for the runs that get `env`.
    void useTempFolder(const QString& folder, QProcessEnvironment& env) const;

    // `path`, a path here, as the updater sees it and writes it in its log.
    QString nativePath(const QString& path) const;

    // Processes of this target whose program lies at `path` or below it.
    QList<qint64> processesRunning(const QString& path) const;

    // The command line of process `pid`, its arguments joined by blanks. Under
    // Wine this is the Windows command line the program was given.
    QString commandLine(qint64 pid) const;

    // Ends the process `pid` and every process of the application folder `app`
    // as a power cut would: all frozen first, so none runs on after another died.
    void killAbruptly(qint64 pid, const QString& app) const;

private:
    UpdaterTarget();

    bool windows_ = false;
    QString updater_;
    QString sevenZip_;
    QString startRecorder_;
    QString taskkill_;
    QString fileHolder_;
    QString wineRun_;
    QString winePrefix_;
    QString wineTempLink_;  // the prefix's temporary folder, linked to a test's
};

// One start recorded by the start recorder.
struct Start {
    qint64 msecs = 0;
    QString workingDir;
    QStringList arguments;
};

// The starts of `program`, a copy of the start recorder, in the order they came.
QList<Start> startsRecordedBy(const QString& program);
