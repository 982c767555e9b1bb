#include "filepath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace Filepath {

namespace {

// Paths this short are drive or file-system roots; removing them would be fatal.
constexpr int kShortestRemovablePath = 4;
constexpr qint64 kMd5ChunkSize = 20480;

}  // namespace

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
    if (path.size() < kShortestRemovablePath) return false;
    const QFileInfo info(path);
    if (info.isFile()) return QFile::remove(path);
    if (info.isDir()) return QDir(path).removeRecursively();
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
    if (exists(destination) && !remove(destination)) return false;
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
