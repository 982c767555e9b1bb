#include "files.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace TestSupport {

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(data), data.size()) << path.toStdString();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

void writeTree(const QString& root, const Tree& tree) {
    for (auto it = tree.begin(); it != tree.end(); ++it)
        writeFile(root + "/" + it.key(), it.value());
}

Tree readTree(const QString& root, const QStringList& skip) {
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = QDir(root).relativeFilePath(info.filePath());
        bool skipped = false;
        for (const QString& prefix : skip) skipped = skipped || relative.startsWith(prefix);
        if (skipped) continue;
        if (info.isSymLink()) {
            tree[relative] = "-> " + info.symLinkTarget().toUtf8();
        } else if (info.isFile()) {
            tree[relative] = readFile(info.filePath());
        }
    }
    return tree;
}

Tree merged(Tree base, const Tree& update) {
    for (auto it = update.begin(); it != update.end(); ++it) base[it.key()] = it.value();
    return base;
}

QStringList entryNames(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

QString appPath(const QString& name) { return QCoreApplication::applicationDirPath() + "/" + name; }

}  // namespace TestSupport
