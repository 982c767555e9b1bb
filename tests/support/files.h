#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace TestSupport {

// Relative path below a folder -> content; a link as "-> target".
using Tree = QMap<QString, QByteArray>;

// Writes `data` to `path`, making its folders. A fatal test failure when the
// file cannot be opened or not all of `data` is written (so callers that must
// stop there wrap the call in ASSERT_NO_FATAL_FAILURE).
void writeFile(const QString& path, const QByteArray& data);

// The content of `path`; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Writes every file of `tree` below `root`.
void writeTree(const QString& root, const Tree& tree);

// Every file and link below `root`, hidden ones included, except those whose
// relative path starts with one of `skip`. Links are not followed.
Tree readTree(const QString& root, const QStringList& skip = {});

// `base` with the files of `update` added or replaced.
Tree merged(Tree base, const Tree& update);

// The entry names of `folder`, hidden ones included.
QStringList entryNames(const QString& folder);

// `name` in the folder of the running test program.
QString appPath(const QString& name);

}  // namespace TestSupport
