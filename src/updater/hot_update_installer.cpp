#include "hot_update_installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <filesystem>
#include <system_error>
#include <utility>

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

// Symbolic links are moved as they are, never followed: a link to a folder is
// an entry like a file.
bool isRealFolder(const QFileInfo& info) { return info.isDir() && !info.isSymLink(); }
bool isPresent(const QFileInfo& info) { return info.exists() || info.isSymLink(); }

QString childPath(const QString& relative, const QString& name) {
    return relative.isEmpty() ? name : relative + "/" + name;
}

// A plain rename, so that a move is all or nothing: QFile::rename would fall back
// to copying, and refuses to move a dangling link.
bool renamePath(const QString& from, const QString& to, QString& message) {
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), error);
    if (!error) return true;
    message = "移动失败: " + from + " => " + to + " " + QString::fromStdString(error.message());
    return false;
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

QString HotUpdateInstaller::errorMessage() const { return error; }

bool HotUpdateInstaller::fail(const QString& text) {
    error = text;
    return false;
}

bool HotUpdateInstaller::wasInterrupted() const {
    return isPresent(QFileInfo(staging)) || isPresent(QFileInfo(replaced));
}

bool HotUpdateInstaller::recover() {
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
        if (isPresent(targetInfo) && !QFile::remove(target)) {
            ok = fail("删除文件失败: " + target);
            continue;
        }
        Filepath::createDir(Filepath::dir(target));
        QString message;
        if (!renamePath(entry.filePath(), target, message)) ok = fail(message);
    }
    return ok;
}

bool HotUpdateInstaller::prepare() {
    if (isPresent(QFileInfo(staging)) && !Filepath::remove(staging)) {
        return fail("删除文件夹失败: " + staging);
    }
    if (!Filepath::createDir(staging)) return fail("创建文件夹失败: " + staging);
    return true;
}

bool HotUpdateInstaller::install() {
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

bool HotUpdateInstaller::mergeFolder(const QString& relative) {
    for (const QFileInfo& entry : entriesOf(Filepath::join({staging, relative}))) {
        const QString child = childPath(relative, entry.fileName());
        const QString target = Filepath::join({appDir, child});
        if (isWorkFolder(target)) return fail("更新包不能写入: " + target);
        const QFileInfo targetInfo(target);
        if (isRealFolder(entry)) {
            if (!isPresent(targetInfo)) {
                if (!moveEntry(entry.filePath(), target)) return false;
            } else if (isRealFolder(targetInfo)) {
                if (!swapFolder(entry.filePath(), target, child) && !mergeFolder(child)) {
                    return false;
                }
            } else {
                return fail("无法用文件夹替换文件: " + target);
            }
            continue;
        }
        if (isRealFolder(targetInfo)) return fail("无法用文件替换文件夹: " + target);
        if (isPresent(targetInfo)) {
            const QString aside = Filepath::join({replaced, child});
            Filepath::createDir(Filepath::dir(aside));
            if (!moveEntry(target, aside)) return false;
        }
        if (!moveEntry(entry.filePath(), target)) return false;
    }
    return true;
}

// A folder whose every entry the update replaces with a file is swapped whole,
// two renames instead of two per file. A folder that cannot be renamed (one
// holding a file in use, on Windows) is left to be merged file by file.
bool HotUpdateInstaller::swapFolder(const QString& from, const QString& to,
                                    const QString& relative) {
    QSet<QString> stagedFiles;
    for (const QFileInfo& entry : entriesOf(from)) {
        if (!isRealFolder(entry)) stagedFiles.insert(entry.fileName());
    }
    for (const QFileInfo& entry : entriesOf(to)) {
        if (isRealFolder(entry) || !stagedFiles.contains(entry.fileName())) return false;
    }
    const QString aside = Filepath::join({replaced, relative});
    Filepath::createDir(Filepath::dir(aside));
    QString message;
    if (!renamePath(to, aside, message)) return false;
    if (renamePath(from, to, message)) {
        moves.push_back({to, aside});
        moves.push_back({from, to});
        return true;
    }
    if (!renamePath(aside, to, message)) {
        // The old folder stays moved aside: recover() brings it back.
        moves.push_back({to, aside});
    }
    return false;
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
// still be there, kept by a file that could not be deleted yet.
bool HotUpdateInstaller::moveToObsolete(const QString& path, QString& message) {
    if (!Filepath::createDir(obsolete)) {
        message = "创建文件夹失败: " + obsolete;
        return false;
    }
    QString target;
    for (int n = 1; target.isEmpty() || isPresent(QFileInfo(target)); ++n) {
        target = Filepath::join({obsolete, QString::number(n)});
    }
    return renamePath(path, target, message);
}

// Moved rather than deleted, so that deleting a large folder waits until the
// client is back; deleted at once where it cannot be moved.
bool HotUpdateInstaller::discard(const QString& path) {
    QString message;
    return moveToObsolete(path, message) || Filepath::remove(path);
}

bool HotUpdateInstaller::freeObsolete() {
    if (!isPresent(QFileInfo(obsolete)) || Filepath::remove(obsolete)) return true;
    return fail("删除文件夹失败: " + obsolete);
}
