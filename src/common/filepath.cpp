#include "filepath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include "filepath_platform.h"

namespace Filepath {

namespace {

// Paths this short are drive or file-system roots; removing them would be fatal.
constexpr int kShortestRemovablePath = 4;
constexpr qint64 kMd5ChunkSize = 20480;

bool isDriveLetter(const QString& component) {
    return component.size() == 2 && component[1] == ':' && component[0].isLetter();
}

// How a path begins: how many of its leading components belong to its root, and
// whether it is relative (and so to be read against the working directory).
struct RootForm {
    int rootComponents = 0;
    bool relative = false;
};

// `components` are the path's pieces between "/" separators (backslashes already
// turned into slashes); a device prefix is consumed from them.
RootForm rootFormOf(const QString& slashed, QStringList& components) {
    components = slashed.split('/', Qt::SkipEmptyParts);
    // "\\?\C:\", "\\.\C:\", "\??\C:\": a device prefix, then the drive or
    // volume; "\\?\UNC\server\share" names a share.
    if (slashed.startsWith("//?/") || slashed.startsWith("//./") || slashed.startsWith("/\?\?/")) {
        components.removeFirst();
        if (!components.isEmpty() && components.first().compare("UNC", Qt::CaseInsensitive) == 0) {
            components.removeFirst();
            return {2, false};
        }
        return {1, false};
    }
    // "\\server\share": a network share's root is its server and share.
    if (slashed.startsWith("//") && !slashed.startsWith("///")) return {2, false};
    if (slashed.startsWith('/')) return {0, false};
    // "C:" also leads a drive-relative path ("C:x\.."): its root is the drive.
    if (!components.isEmpty() && isDriveLetter(components.first().left(2))) {
        if (components.first().size() > 2) components.insert(1, components.first().mid(2));
        components.first().truncate(2);
        return {1, false};
    }
    return {0, true};
}

// Windows drops trailing blanks and dots of a component, so ". ." and "..." name
// the folder itself and ".. " its parent there.
QString asWindowsReads(const QString& component) {
    QString trimmed = component;
    while (trimmed.endsWith(' ')) trimmed.chop(1);
    if (trimmed == "..") return trimmed;
    while (trimmed.endsWith('.') || trimmed.endsWith(' ')) trimmed.chop(1);
    return trimmed.isEmpty() ? QString(".") : component;
}

// A link's ".." and a link to a root lead where the written path does not: the
// resolved path of an existing one is checked as well.
bool refusedForRemoval(const QString& path) {
    if (path.size() < kShortestRemovablePath) return true;
    const QString workingDir = QDir::currentPath();
    if (namesRoot(path, workingDir)) return true;
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return !resolved.isEmpty() && namesRoot(resolved, workingDir);
}

// Qt's own recursive removal makes a read-only file writable first: on Windows
// it cannot be deleted otherwise.
bool removeFile(const QFileInfo& entry) {
    if (QFile::remove(entry.filePath()) || !QFileInfo::exists(entry.filePath())) return true;
    if (entry.permission(QFile::WriteUser)) return false;
    QFile::setPermissions(entry.filePath(), entry.permissions() | QFile::WriteUser);
    return QFile::remove(entry.filePath());
}

// Never followed through a link: a link, at any depth, is removed as itself, so
// what it points to stays whole wherever it lies. An entry that is gone already
// (another process removing the same tree) counts as removed.
bool removeEntry(const QFileInfo& entry) {
    if (Platform::isLink(entry)) {
        return Platform::removeLink(entry.filePath()) || !isPresent(QFileInfo(entry.filePath()));
    }
    if (!entry.isDir()) return removeFile(entry);
    bool removed = true;
    const QFileInfoList children =
        QDir(entry.filePath())
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& child : children) removed = removeEntry(child) && removed;
    return (QDir().rmdir(entry.filePath()) || !QFileInfo::exists(entry.filePath())) && removed;
}

// True when the existing `destination` names `source` itself, under whatever
// spelling or link, or a folder that holds it: removing it would delete the
// only copy. QFileInfo compares canonical paths, ignoring case where the file
// system does (Windows).
bool holdsSource(const QString& destination, const QString& source) {
    const QFileInfo target(destination);
    QString held = QFileInfo(source).canonicalFilePath();
    while (!held.isEmpty()) {
        if (QFileInfo(held) == target) return true;
        const QString parent = QFileInfo(held).absolutePath();
        if (parent == held) break;
        held = parent;
    }
    return false;
}

}  // namespace

bool isLink(const QFileInfo& entry) { return Platform::isLink(entry); }

bool isPresent(const QFileInfo& entry) { return entry.exists() || isLink(entry); }

bool namesRoot(const QString& path, const QString& workingDir) {
    QString slashed = QString(path).replace('\\', '/');
    QStringList components;
    RootForm form = rootFormOf(slashed, components);
    if (form.relative) {
        QString base = QString(workingDir).replace('\\', '/');
        while (base.endsWith('/')) base.chop(1);  // "/" and "C:/" take no second slash
        slashed = base + '/' + slashed;
        form = rootFormOf(slashed, components);
        if (form.relative) return true;  // no absolute folder to read it against
    }
    QStringList kept;
    for (const QString& component : components) {
        const QString name = asWindowsReads(component);
        if (name == ".") continue;
        if (name == "..") {
            if (kept.size() > form.rootComponents) kept.removeLast();
            continue;
        }
        kept.append(component);
    }
    return kept.size() <= form.rootComponents;
}

QString dir(const QString& path) { return QFileInfo(path).absolutePath(); }

QString base(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.completeSuffix();
    if (suffix.isEmpty()) return info.completeBaseName();
    return info.completeBaseName() + "." + suffix;
}

QString baseWithoutSuffix(const QString& path) { return QFileInfo(path).completeBaseName(); }

bool createDir(const QString& path) { return QDir().mkpath(path); }

QString join(std::initializer_list<QString> pieces) {
    if (pieces.size() == 0) return QString();
    auto it = pieces.begin();
    QString result = QString(*it).replace('\\', '/');
    if (result.endsWith('/')) result.chop(1);
    result += '/';
    const auto last = pieces.end() - 1;
    for (++it; it != pieces.end(); ++it) {
        if (it->isEmpty()) continue;
        QString piece = QString(*it).replace('\\', '/');
        if (piece.startsWith('/')) piece.remove(0, 1);
        if (piece.endsWith('/')) piece.chop(1);
        result += piece;
        if (it != last) result += '/';
    }
    return result;
}

bool exists(const QString& path) { return QFileInfo::exists(path); }

bool remove(const QString& path) {
    if (refusedForRemoval(path)) return false;
    const QFileInfo info(path);
    if (Platform::isLink(info)) return Platform::removeLink(path);
    if (info.isFile()) return QFile::remove(path);
    if (info.isDir()) return removeEntry(info);
    return false;
}

bool fileSize(long long& size, const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return false;
    size = info.size();
    return true;
}

bool rename(const QString& from, const QString& to) { return QDir(from).rename(from, to); }

void walkDir(const QString& folder, const std::function<bool(const QFileInfo&)>& callback) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir()) {
            walkDir(entry.absoluteFilePath(), callback);
        } else if (!callback(entry)) {
            return;
        }
    }
}

bool copyFile(const QString& source, const QString& destination, QString& error) {
    const QFileInfo target(destination);
    if ((target.exists() || isLink(target)) &&
        (holdsSource(destination, source) || !remove(destination))) {
        return false;
    }
    createDir(dir(destination));
    QFile file(source);
    const bool copied = file.copy(destination);
    if (!copied) error = file.errorString();
    return copied;
}

bool fileMd5(QString& md5, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray buffer(kMd5ChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), kMd5ChunkSize);
        if (n < 0) return false;  // a digest of a prefix would pass for the file's
        if (n == 0) break;
        hash.addData(buffer.constData(), static_cast<int>(n));
    }
    md5 = QString::fromLatin1(hash.result().toHex());
    return true;
}

bool fileBeingUsed(const QString& path) {
    const QFileInfo info(path);
    // Opening a missing file read-write would create it: a missing file is
    // simply not in use. Folders and paths in missing folders cannot be opened.
    if (!info.exists() && QFileInfo(info.absolutePath()).isDir()) return false;
    QFile file(path);
    // A running program's executable cannot be opened for writing on Windows,
    // so a failed open means "in use".
    if (!file.open(QIODevice::ReadWrite)) return true;
    file.close();
    return false;
}

}  // namespace Filepath
