#include "hot_update_installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QThread>

#include <glog/logging.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "file_moves.h"
#include "file_names.h"
#include "filepath.h"

namespace {

constexpr char kStagingName[] = "staging";
constexpr char kReplacedName[] = "replaced";
constexpr char kObsoleteName[] = "obsolete";

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

// Links and junctions are moved as they are, never followed: a link to a folder
// is an entry like a file.
bool isRealFolder(const QFileInfo& info) { return info.isDir() && !Filepath::isLink(info); }
using Filepath::isPresent;

QString childPath(const QString& relative, const QString& name) {
    return relative.isEmpty() ? name : relative + "/" + name;
}

bool holdsFiles(const QString& folder) {
    for (const QFileInfo& entry : entriesOf(folder)) {
        if (!isRealFolder(entry) || holdsFiles(entry.filePath())) return true;
    }
    return false;
}

}  // namespace

HotUpdateInstaller::HotUpdateInstaller(QString appDir, QString workDir)
    : appDir(QDir::cleanPath(appDir)),
      workDir(QDir::cleanPath(workDir)),
      staging(Filepath::join({this->workDir, kStagingName})),
      replaced(Filepath::join({this->workDir, kReplacedName})),
      obsolete(Filepath::join({this->workDir, kObsoleteName})) {}

QString HotUpdateInstaller::stagingDir() const { return staging; }

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
    const auto attempt = [&] { return FileMoves::rename(from, to); };
    if (patiently(from, attempt, systemError)) return true;
    message = "移动失败: " + from + " => " + to + " " + systemError;
    return false;
}

bool HotUpdateInstaller::removeFile(const QString& path) {
    QString systemError;
    const auto attempt = [&] { return FileMoves::removeFile(path); };
    if (patiently(path, attempt, systemError)) return true;
    return fail("删除文件失败: " + path + " " + systemError);
}

// Anyone may put a link where a work folder goes; what it points to is no work
// of ours. It is removed as a link and the run goes on without it.
bool HotUpdateInstaller::dropLinkedWorkFolders() {
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
    bool ok = true;
    if (isPresent(QFileInfo(replaced))) {
        ok = restoreReplaced(QString());
        if (ok && !Filepath::remove(replaced)) ok = fail("删除文件夹失败: " + replaced);
    }
    if (isPresent(QFileInfo(staging)) && !discard(staging)) {
        ok = fail("删除文件夹失败: " + staging);
    }
    return ok;
}

// Each moved-aside file goes back to its place, over whatever an interrupted
// install had put there already.
bool HotUpdateInstaller::restoreReplaced(const QString& relative) {
    bool ok = true;
    for (const QFileInfo& entry : entriesOf(Filepath::join({replaced, relative}))) {
        const QString child = childPath(relative, entry.fileName());
        if (isRealFolder(entry)) {
            ok = restoreReplaced(child) && ok;
            continue;
        }
        const QString target = Filepath::join({appDir, child});
        const QFileInfo targetInfo(target);
        if (isRealFolder(targetInfo)) {
            ok = fail("无法恢复文件, 目标是文件夹: " + target);
            continue;
        }
        if (isPresent(targetInfo) && !removeFile(target)) {
            ok = false;
            continue;
        }
        Filepath::createDir(Filepath::dir(target));
        QString message;
        if (!renamePath(entry.filePath(), target, message)) ok = fail(message);
    }
    return ok;
}

bool HotUpdateInstaller::apply(const std::function<bool(const QString&)>& extract) {
    const bool applied = prepare() && extract(staging) && install();
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
    if (!mergeFolder(QString())) {
        undoMoves();
        return false;
    }
    if (!isPresent(QFileInfo(replaced))) return true;
    // Renaming the moved-aside files out of the way is the moment the install
    // counts as done: until then recover() rolls it back.
    QString message;
    if (!moveToObsolete(replaced, message)) {
        fail(message);
        undoMoves();
        return false;
    }
    return true;
}

bool HotUpdateInstaller::isWorkFolder(const QString& path) const {
    for (const QString& folder : {staging, replaced, obsolete}) {
        if (QString::compare(path, folder, FileNames::caseSensitivity()) == 0) return true;
    }
    return false;
}

// The work folders can only be reached from the folders that hold them: only
// there is an entry's path compared with them.
bool HotUpdateInstaller::holdsWorkFolder(const QString& path) const {
    const Qt::CaseSensitivity cs = FileNames::caseSensitivity();
    return QString::compare(path, workDir, cs) == 0 || workDir.startsWith(path + "/", cs);
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
                if (!moveEntry(entry.filePath(), target)) return false;
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
    const bool foldCase = FileNames::caseSensitivity() == Qt::CaseInsensitive;
    const auto key = [&](const QFileInfo& entry) {
        return foldCase ? entry.fileName().toCaseFolded() : entry.fileName();
    };
    QHash<QString, bool> stagedFolders;  // name as the file system compares it -> real folder
    for (const QFileInfo& entry : staged) stagedFolders.insert(key(entry), isRealFolder(entry));
    QStringList leftAlone;
    int replacedFiles = 0;
    for (const QFileInfo& entry : entriesOf(to)) {
        if (isRealFolder(entry)) return Swap::NotPossible;
        const auto found = stagedFolders.constFind(key(entry));
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
    if (!FileMoves::rename(to, aside).done) return Swap::NotPossible;
    QString message;
    if (!renamePath(from, to, message)) {
        if (!renamePath(aside, to, message)) {
            // The old folder stays moved aside: recover() brings it back.
            moves.push_back({to, aside});
        }
        return Swap::NotPossible;
    }
    moves.push_back({to, aside});
    moves.push_back({from, to});
    for (const QString& name : leftAlone) {
        if (!moveEntry(aside + "/" + name, to + "/" + name)) return Swap::Failed;
    }
    return Swap::Done;
}

bool HotUpdateInstaller::moveEntry(const QString& from, const QString& to) {
    QString message;
    if (!renamePath(from, to, message)) return fail(message);
    moves.push_back({from, to});
    return true;
}

// Undone in reverse order, each entry moved in goes back to the staging folder
// before the file it replaced returns. What cannot be undone is left for
// recover(): the moved-aside file stays where it is.
void HotUpdateInstaller::undoMoves() {
    patienceLeftMs = kStepPatienceMs;
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        QString message;
        if (!renamePath(it->to, it->from, message)) error += "; " + message;
    }
    moves.clear();
}

void HotUpdateInstaller::cleanUp() {
    if (isPresent(QFileInfo(staging))) discard(staging);
    if (isPresent(QFileInfo(replaced)) && !holdsFiles(replaced)) Filepath::remove(replaced);
}

// Each discarded folder gets a numbered place of its own: an earlier one may
// still be there, kept by a file that could not be deleted yet. Another worker
// may be deleting the obsolete folder, or numbering a folder of its own, at the
// same moment: a move that loses such a race is tried again.
bool HotUpdateInstaller::moveToObsolete(const QString& path, QString& message) {
    for (int attempt = 0; attempt < kObsoleteAttempts; ++attempt) {
        if (!Filepath::createDir(obsolete)) {
            message = "创建文件夹失败: " + obsolete;
            return false;
        }
        QString target;
        for (int n = 1; target.isEmpty() || isPresent(QFileInfo(target)); ++n) {
            target = Filepath::join({obsolete, QString::number(n)});
        }
        if (renamePath(path, target, message)) return true;
        if (!isPresent(QFileInfo(target)) && isPresent(QFileInfo(obsolete))) return false;
    }
    return false;
}

// Moved rather than deleted, so that deleting a large folder waits until the
// client is back; deleted at once where it cannot be moved.
bool HotUpdateInstaller::discard(const QString& path) {
    QString message;
    return moveToObsolete(path, message) || Filepath::remove(path);
}

// Each numbered folder is deleted on its own, and the obsolete folder only once
// it is empty: another worker may move a folder of its own in meanwhile, or
// delete the same files side by side with this one.
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
        if (!Filepath::remove(entry.filePath()) && isPresent(QFileInfo(entry.filePath()))) {
            freed = false;
        }
    }
    QDir().rmdir(obsolete);
    return freed || fail("删除文件夹失败: " + obsolete);
}
