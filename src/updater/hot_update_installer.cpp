#include "hot_update_installer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QThread>
#include <QUuid>

#include <glog/logging.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "file_moves.h"
#include "file_names.h"
#include "filepath.h"

namespace {

constexpr char kStagingName[] = "staging";
constexpr char kReplacedName[] = "replaced";
constexpr char kObsoleteName[] = "obsolete";
// An obsolete folder's entry that a worker is deleting.
constexpr char kClaimedPrefix[] = "freeing-";

constexpr QDir::Filters kEverything =
    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

QFileInfoList entriesOf(const QString& folder) {
    return QDir(folder).entryInfoList(kEverything, QDir::Name);
}

// A file held by a scanner is tried again after 50 ms, then after pauses that
// double up to 1 s, for at most 10 s; one install, undo or recovery waits at
// most a minute in all, so a run stays bounded however many files are held.
constexpr int kFirstPauseMs = 50;
constexpr int kLongestPauseMs = 1000;
constexpr int kEntryPatienceMs = 10000;
constexpr int kStepPatienceMs = 60000;
constexpr int kObsoleteAttempts = 5;
// Flushing file by file waits on the disk for each file: many at a time keep it
// busy (20,000 small files: 35 s one after another, under a second 32 at a time).
constexpr int kFlushThreads = 32;
constexpr int kFilesPerFlushThread = 16;

// Links and junctions are moved as they are, never followed: a link to a folder
// is an entry like a file.
bool isRealFolder(const QFileInfo& info) { return info.isDir() && !Filepath::isLink(info); }
using Filepath::isPresent;

QString childPath(const QString& relative, const QString& name) {
    return relative.isEmpty() ? name : relative + "/" + name;
}

// Every file and link below `folder`, and every folder with `folder` itself;
// links are not followed.
void listTree(const QString& folder, QStringList& files, QStringList& folders) {
    folders << folder;
    QDirIterator it(folder, kEverything, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        (isRealFolder(it.fileInfo()) ? folders : files) << it.filePath();
    }
}

// Runs `flush` on every path, on several threads; false with the first failure.
bool flushEach(const QStringList& paths, FileMoves::Outcome (*flush)(const QString&),
               QString& failure) {
    std::atomic<int> next{0};
    std::mutex mutex;
    bool ok = true;
    const auto work = [&] {
        for (int i = next++; i < paths.size(); i = next++) {
            const FileMoves::Outcome outcome = flush(paths.at(i));
            if (outcome.done) continue;
            const std::lock_guard<std::mutex> lock(mutex);
            if (ok) failure = paths.at(i) + " " + outcome.error;
            ok = false;
        }
    };
    const int threads = std::min(kFlushThreads, 1 + paths.size() / kFilesPerFlushThread);
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    return ok;
}

QStringList entryNames(const QString& folder) {
    return QDir(folder).entryList(kEverything, QDir::Name);
}

bool holdsFiles(const QString& folder) {
    for (const QFileInfo& entry : entriesOf(folder)) {
        if (!isRealFolder(entry) || holdsFiles(entry.filePath())) return true;
    }
    return false;
}

// Another worker trying to claim the same folder holds it for a moment on
// Windows (a rename opens it), and so may a scanner.
bool removeWaitingBriefly(const QString& path) {
    for (int pauseMs = kFirstPauseMs;; pauseMs *= 2) {
        if (Filepath::remove(path) || !isPresent(QFileInfo(path))) return true;
        if (pauseMs > kLongestPauseMs) return false;
        QThread::msleep(static_cast<unsigned long>(pauseMs));
    }
}

}  // namespace

HotUpdateInstaller::HotUpdateInstaller(QString appDir, QString workDir)
    : appDir(QDir::cleanPath(appDir)),
      workDir(QDir::cleanPath(workDir)),
      staging(Filepath::join({this->workDir, kStagingName})),
      replaced(Filepath::join({this->workDir, kReplacedName})),
      obsolete(Filepath::join({this->workDir, kObsoleteName})),
      renameEntry(FileMoves::rename) {}

QString HotUpdateInstaller::stagingDir() const { return staging; }

void HotUpdateInstaller::useRename(Rename rename) { renameEntry = std::move(rename); }

// A file that another program holds for a moment is waited for, so that a
// scanner looking at one file does not cost the update.
bool HotUpdateInstaller::patiently(const QString& path,
                                   const std::function<FileMoves::Outcome()>& attempt,
                                   QString& systemError) {
    int pauseMs = kFirstPauseMs;
    int waitedMs = 0;
    for (;;) {
        const FileMoves::Outcome outcome = attempt();
        if (outcome.done) return true;
        systemError = outcome.error;
        if (!outcome.held || waitedMs >= kEntryPatienceMs || patienceLeftMs <= 0) return false;
        if (waitedMs == 0) {
            LOG(WARNING) << "文件被占用, 等待: " << path.toStdString() << " "
                         << outcome.error.toStdString();
        }
        const int sleepMs = std::min({pauseMs, kEntryPatienceMs - waitedMs, patienceLeftMs});
        QThread::msleep(static_cast<unsigned long>(sleepMs));
        waitedMs += sleepMs;
        patienceLeftMs -= sleepMs;
        pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
    }
}

// A plain rename, so that a move is all or nothing: QFile::rename would fall back
// to copying, and refuses to move a dangling link.
bool HotUpdateInstaller::renamePath(const QString& from, const QString& to, QString& message) {
    QString systemError;
    const auto attempt = [&] { return renameEntry(from, to); };
    if (patiently(from, attempt, systemError)) {
        changedFolders << Filepath::dir(from) << Filepath::dir(to);
        return true;
    }
    message = "移动失败: " + from + " => " + to + " " + systemError;
    return false;
}

// Anyone may put a link where a work folder goes; what it points to is no work
// of ours. It is removed as a link and the run goes on without it.
bool HotUpdateInstaller::dropLinkedWorkFolders() {
    // Through a link in the work folder's own place, a recovery would restore
    // whatever the folder it points to holds over installed files.
    if (Filepath::isLink(QFileInfo(workDir))) {
        LOG(WARNING) << "工作文件夹是链接, 删除链接: " << workDir.toStdString();
        return Filepath::remove(workDir) || fail("删除链接失败: " + workDir);
    }
    bool ok = true;
    for (const QString& folder : {staging, replaced, obsolete}) {
        if (!Filepath::isLink(QFileInfo(folder))) continue;
        LOG(WARNING) << "工作文件夹是链接, 删除链接: " << folder.toStdString();
        if (!Filepath::remove(folder)) ok = fail("删除链接失败: " + folder);
    }
    return ok;
}

QString HotUpdateInstaller::errorMessage() const { return error; }

bool HotUpdateInstaller::fail(const QString& text) {
    error = text;
    return false;
}

bool HotUpdateInstaller::wasInterrupted() const {
    return isPresent(QFileInfo(staging)) || isPresent(QFileInfo(replaced));
}

bool HotUpdateInstaller::recover() {
    patienceLeftMs = kStepPatienceMs;
    changedFolders.clear();
    bool ok = restoreAll();
    // The old files are back for good before anything of the update is deleted.
    return flushRenames() && ok;
}

bool HotUpdateInstaller::restoreAll() {
    bool ok = true;
    if (isPresent(QFileInfo(replaced))) {
        QString asideFolder;
        ok = restoreReplaced(QString(), asideFolder);
        if (ok && !Filepath::remove(replaced)) ok = fail("删除文件夹失败: " + replaced);
    }
    if (isPresent(QFileInfo(staging)) && !discard(staging)) {
        ok = fail("删除文件夹失败: " + staging);
    }
    return ok;
}

// Each moved-aside file goes back to its place, over whatever an interrupted
// install had put there already. That entry is moved aside into a folder of the
// obsolete folder made for this recovery, never deleted first: a file that
// refuses deletion may still be renamed (a DLL loaded by another program, on
// Windows), and a restore that fails then puts it back.
bool HotUpdateInstaller::restoreReplaced(const QString& relative, QString& asideFolder) {
    bool ok = true;
    for (const QFileInfo& entry : entriesOf(Filepath::join({replaced, relative}))) {
        const QString child = childPath(relative, entry.fileName());
        if (isRealFolder(entry)) {
            ok = restoreReplaced(child, asideFolder) && ok;
            continue;
        }
        const QString target = Filepath::join({appDir, child});
        const QFileInfo targetInfo(target);
        if (isRealFolder(targetInfo)) {
            ok = fail("无法恢复文件, 目标是文件夹: " + target);
            continue;
        }
        QString aside;
        if (isPresent(targetInfo)) {
            if (asideFolder.isEmpty()) asideFolder = newObsoleteFolder();
            if (asideFolder.isEmpty()) {
                ok = fail("创建文件夹失败: " + obsolete);
                continue;
            }
            aside = Filepath::join({asideFolder, child});
        }
        ok = restoreFile(entry.filePath(), target, aside) && ok;
    }
    return ok;
}

bool HotUpdateInstaller::restoreFile(const QString& from, const QString& target,
                                     const QString& aside) {
    QString message;
    if (!aside.isEmpty()) {
        Filepath::createDir(Filepath::dir(aside));
        if (!renamePath(target, aside, message)) return fail(message);
    }
    Filepath::createDir(Filepath::dir(target));
    if (renamePath(from, target, message)) return true;
    fail(message);
    if (!aside.isEmpty() && !renamePath(aside, target, message)) error += "; " + message;
    return false;
}

bool HotUpdateInstaller::apply(const std::function<bool(const QString&)>& extract) {
    const bool applied = prepare() && extract(staging) && flushStaging() && install();
    cleanUp();
    return applied;
}

bool HotUpdateInstaller::prepare() {
    if (isPresent(QFileInfo(staging)) && !Filepath::remove(staging)) {
        return fail("删除文件夹失败: " + staging);
    }
    if (!Filepath::createDir(staging)) return fail("创建文件夹失败: " + staging);
    return true;
}

bool HotUpdateInstaller::install() {
    patienceLeftMs = kStepPatienceMs;
    moves.clear();
    changedFolders.clear();
    bool ok = mergeFolder(QString());
    if (ok && isPresent(QFileInfo(replaced))) {
        // Renaming the moved-aside files out of the way is the moment the install
        // counts as done: until then recover() rolls it back.
        QString message;
        QString movedTo;
        ok = moveToObsolete(replaced, message, &movedTo) || fail(message);
        if (ok) moves.push_back({replaced, movedTo, {}});
    }
    // The package and the old files are deleted next: the renames must be on
    // the disk first.
    if (ok) ok = flushRenames();
    if (!ok) rollBack();
    return ok;
}

// The failure that started the roll-back comes first in the error, then the
// last of the roll-back's own.
void HotUpdateInstaller::rollBack() {
    const QString cause = error;
    error.clear();
    undoMoves();
    restoreAll();
    flushRenames();
    error = error.isEmpty() ? cause : cause + "; " + error;
}

// The staged files' data is on the disk before any of them is renamed into the
// application folder: a file whose name was written but not its data reads as
// zeros after a power cut.
bool HotUpdateInstaller::flushStaging() {
    QStringList files;
    QStringList folders = {workDir};
    listTree(staging, files, folders);
    return makeDurable(files, folders);
}

bool HotUpdateInstaller::flushRenames() {
    if (changedFolders.isEmpty()) return true;
    changedFolders.removeDuplicates();
    // A folder renamed or discarded since has nothing left to write: its own
    // rename is written with the folder that holds it.
    QStringList folders;
    for (const QString& folder : changedFolders) {
        if (isRealFolder(QFileInfo(folder))) folders << folder;
    }
    const bool ok = makeDurable({}, folders);
    changedFolders.clear();
    return ok;
}

// The whole file system at once where the platform lets us, else each file and
// folder through a handle of its own.
bool HotUpdateInstaller::makeDurable(const QStringList& files, const QStringList& folders) {
    const FileMoves::Outcome whole = FileMoves::flushFileSystem(appDir);
    if (whole.done) return true;
    if (!fileByFileLogged) {
        LOG(WARNING) << "无法整体写入磁盘, 逐个文件写入: " << appDir.toStdString() << " "
                     << whole.error.toStdString();
        fileByFileLogged = true;
    }
    QString failure;
    if (!flushEach(files, FileMoves::flushFile, failure) ||
        !flushEach(folders, FileMoves::flushFolder, failure)) {
        return fail("写入磁盘失败: " + failure);
    }
    return true;
}

// Refused when the file system takes the name for a work folder's, and also
// when only Qt's case folding does: a look-alike is refused rather than risked.
bool HotUpdateInstaller::isWorkFolder(const QString& path) const {
    for (const QString& folder : {staging, replaced, obsolete}) {
        if (FileNames::samePath(path, folder) ||
            QString::compare(path, folder, FileNames::caseSensitivity()) == 0) {
            return true;
        }
    }
    return false;
}

// The work folders can only be reached from the folders that hold them: only
// there is an entry's path compared with them.
bool HotUpdateInstaller::holdsWorkFolder(const QString& path) const {
    const Qt::CaseSensitivity cs = FileNames::caseSensitivity();
    const auto same = [&](const QString& a, const QString& b) {
        return FileNames::samePath(a, b) || QString::compare(a, b, cs) == 0;
    };
    return same(path, workDir) || (workDir.size() > path.size() && workDir.at(path.size()) == '/' &&
                                   same(workDir.left(path.size()), path));
}

bool HotUpdateInstaller::mergeFolder(const QString& relative) {
    return mergeFolder(relative, entriesOf(Filepath::join({staging, relative})));
}

bool HotUpdateInstaller::mergeFolder(const QString& relative, const QFileInfoList& staged) {
    const bool nearWorkFolders =
        holdsWorkFolder(relative.isEmpty() ? appDir : Filepath::join({appDir, relative}));
    // The folder for this folder's moved-aside files is made with the first one.
    bool asideFolderMade = false;
    for (const QFileInfo& entry : staged) {
        const QString child = childPath(relative, entry.fileName());
        const QString target = Filepath::join({appDir, child});
        if (nearWorkFolders && isWorkFolder(target)) return fail("更新包不能写入: " + target);
        const QFileInfo targetInfo(target);
        if (isRealFolder(entry)) {
            if (!isPresent(targetInfo)) {
                if (!moveEntry(entry.filePath(), target, entryNames(entry.filePath()))) {
                    return false;
                }
            } else if (isRealFolder(targetInfo)) {
                const QFileInfoList stagedChildren = entriesOf(entry.filePath());
                const Swap swap = swapFolder(stagedChildren, entry.filePath(), target, child);
                if (swap == Swap::Failed) return false;
                if (swap == Swap::NotPossible && !mergeFolder(child, stagedChildren)) return false;
            } else {
                return fail("无法用文件夹替换文件: " + target);
            }
            continue;
        }
        if (isRealFolder(targetInfo)) return fail("无法用文件替换文件夹: " + target);
        if (isPresent(targetInfo)) {
            const QString aside = Filepath::join({replaced, child});
            if (!asideFolderMade) asideFolderMade = Filepath::createDir(Filepath::dir(aside));
            if (!moveEntry(target, aside)) return false;
        }
        if (!moveEntry(entry.filePath(), target)) return false;
    }
    return true;
}

// A folder of the update is swapped in whole, two renames in place of one or
// two per file; the files the update leaves alone (a patch's usual case) are
// then moved back from the moved-aside folder, where a recovery restores them as
// it restores replaced files. An installed folder holding folders of its own is
// left to the merge, as is a file where the update has a folder, a folder that
// cannot be renamed (one holding a file in use, on Windows), one holding the
// work folders, and one where moving back costs more renames than merging.
HotUpdateInstaller::Swap HotUpdateInstaller::swapFolder(const QFileInfoList& staged,
                                                        const QString& from, const QString& to,
                                                        const QString& relative) {
    if (holdsWorkFolder(to)) return Swap::NotPossible;
    // Which installed file a staged one replaces is decided by names compared as
    // the file system compares them; where that cannot be reproduced here, the
    // merge asks the file system itself, file by file.
    QHash<QString, bool> stagedFolders;  // comparison key -> real folder
    QStringList stagedNames;
    for (const QFileInfo& entry : staged) {
        QString key;
        if (!FileNames::comparisonKey(entry.fileName(), key)) return Swap::NotPossible;
        stagedFolders.insert(key, isRealFolder(entry));
        stagedNames << entry.fileName();
    }
    QStringList leftAlone;
    int replacedFiles = 0;
    for (const QFileInfo& entry : entriesOf(to)) {
        QString key;
        if (isRealFolder(entry) || !FileNames::comparisonKey(entry.fileName(), key)) {
            return Swap::NotPossible;
        }
        const auto found = stagedFolders.constFind(key);
        if (found == stagedFolders.constEnd()) {
            leftAlone.append(entry.fileName());
        } else if (found.value()) {
            return Swap::NotPossible;
        } else {
            ++replacedFiles;
        }
    }
    const int mergeRenames = staged.size() + replacedFiles;
    if (!leftAlone.isEmpty() && 2 + leftAlone.size() >= mergeRenames) return Swap::NotPossible;

    const QString aside = Filepath::join({replaced, relative});
    Filepath::createDir(Filepath::dir(aside));
    // Not waited for: a folder holding a file in use cannot be renamed, and its
    // files are better merged one by one at once.
    const FileMoves::Outcome asideMove = renameEntry(to, aside);
    if (!asideMove.done) return Swap::NotPossible;
    changedFolders << Filepath::dir(to) << Filepath::dir(aside);
    moves.push_back({to, aside, {}});
    QString message;
    if (!renamePath(from, to, message)) {
        QString back;
        if (!renamePath(aside, to, back)) {
            // The old folder stays moved aside, where the roll-back restores it.
            fail(message + "; " + back);
            return Swap::Failed;
        }
        moves.pop_back();
        return Swap::NotPossible;
    }
    moves.push_back({from, to, stagedNames});
    for (const QString& name : leftAlone) {
        if (!moveEntry(aside + "/" + name, to + "/" + name)) return Swap::Failed;
    }
    return Swap::Done;
}

bool HotUpdateInstaller::moveEntry(const QString& from, const QString& to,
                                   const QStringList& stagedNames) {
    QString message;
    if (!renamePath(from, to, message)) return fail(message);
    moves.push_back({from, to, stagedNames});
    return true;
}

// Undone in reverse order, each entry moved in goes back to the staging folder
// before the file it replaced returns. Undoing stops at the first move that
// fails, and before a folder that would take into the staging folder an entry
// the update did not stage (an installed file that could not be moved back
// aside): the staging folder is discarded, and what is left moved aside is
// restored from where it is.
bool HotUpdateInstaller::undoMoves() {
    patienceLeftMs = kStepPatienceMs;
    while (!moves.empty()) {
        const Move& move = moves.back();
        if (!move.stagedNames.isEmpty()) {
            for (const QFileInfo& entry : entriesOf(move.to)) {
                if (!move.stagedNames.contains(entry.fileName())) {
                    return fail("文件夹中有更新包以外的文件, 不能移回: " + entry.filePath());
                }
            }
        }
        QString message;
        if (!renamePath(move.to, move.from, message)) return fail(message);
        moves.pop_back();
    }
    return true;
}

void HotUpdateInstaller::cleanUp() {
    if (isPresent(QFileInfo(staging))) discard(staging);
    if (isPresent(QFileInfo(replaced)) && !holdsFiles(replaced)) Filepath::remove(replaced);
}

// Each discarded folder gets a numbered place of its own: an earlier one may
// still be there, kept by a file that could not be deleted yet. Another worker
// may be deleting the obsolete folder, or numbering a folder of its own, at the
// same moment: a move that loses such a race is tried again.
bool HotUpdateInstaller::moveToObsolete(const QString& path, QString& message, QString* movedTo) {
    for (int attempt = 0; attempt < kObsoleteAttempts; ++attempt) {
        if (!Filepath::createDir(obsolete)) {
            message = "创建文件夹失败: " + obsolete;
            return false;
        }
        const QString target = firstFreeObsoleteName();
        if (renamePath(path, target, message)) {
            if (movedTo) *movedTo = target;
            return true;
        }
        if (!isPresent(QFileInfo(target)) && isPresent(QFileInfo(obsolete))) return false;
    }
    return false;
}

// An empty numbered folder of the obsolete folder, made here and by no other
// worker; empty when none could be made.
QString HotUpdateInstaller::newObsoleteFolder() {
    for (int attempt = 0; attempt < kObsoleteAttempts; ++attempt) {
        if (!Filepath::createDir(obsolete)) return QString();
        const QString folder = firstFreeObsoleteName();
        if (QDir().mkdir(folder)) return folder;
    }
    return QString();
}

QString HotUpdateInstaller::firstFreeObsoleteName() const {
    QString name;
    for (int n = 1; name.isEmpty() || isPresent(QFileInfo(name)); ++n) {
        name = Filepath::join({obsolete, QString::number(n)});
    }
    return name;
}

// Moved rather than deleted, so that deleting a large folder waits until the
// client is back; deleted at once where it cannot be moved.
bool HotUpdateInstaller::discard(const QString& path) {
    QString message;
    return moveToObsolete(path, message) || Filepath::remove(path);
}

// Each numbered folder is deleted on its own, and the obsolete folder only once
// it is empty: another worker may move a folder of its own in meanwhile, or
// free the same folders side by side with this one. A folder is first claimed
// under a name no worker numbers (and deleted where that cannot be done, a
// running program's file in it on Windows): a number freed here may be given to
// another worker's folder before this one has finished with it.
bool HotUpdateInstaller::freeObsolete() {
    const QFileInfo info(obsolete);
    // A link that could not be dropped is left as it is: removing it again could
    // reach what it points to where the system mishandles links (Wine).
    if (!isPresent(info) || Filepath::isLink(info)) return true;
    if (!isRealFolder(info)) {
        if (Filepath::remove(obsolete) || !isPresent(QFileInfo(obsolete))) return true;
        return fail("删除文件夹失败: " + obsolete);
    }
    bool freed = true;
    for (const QFileInfo& entry : entriesOf(obsolete)) {
        QString path = entry.filePath();
        const QString claimed =
            Filepath::join({obsolete, kClaimedPrefix + QUuid::createUuid().toString(QUuid::Id128)});
        if (FileMoves::rename(path, claimed).done) {
            path = claimed;
        } else if (!isPresent(QFileInfo(path))) {
            continue;  // freed by another worker
        } else if (entry.fileName().startsWith(kClaimedPrefix)) {
            // Another worker is deleting it (Windows renames no folder while a
            // file in it is open), or one that was stopped left it to the next
            // run. Deleting it side by side would fail on files being deleted.
            continue;
        }
        if (!removeWaitingBriefly(path)) freed = false;
    }
    QDir().rmdir(obsolete);
    return freed || fail("删除文件夹失败: " + obsolete);
}
