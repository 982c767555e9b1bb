#pragma once

#include <QFileInfo>
#include <QString>

#include <functional>
#include <initializer_list>

// Path and file functions. None of them logs; failures are reported through the
// bool result (and, for copyFile, the error text). All are reentrant.
namespace Filepath {

// Absolute path of the folder that holds `path`.
QString dir(const QString& path);
// File name: complete base name, then "." and the complete suffix when there is one.
QString base(const QString& path);
// File name without its last suffix.
QString baseWithoutSuffix(const QString& path);
// Creates the folder with all missing parents (relative paths against the working
// directory). True when the folder exists afterwards.
bool createDir(const QString& path);
// Joins pieces with "/": backslashes become "/", one slash is trimmed at each
// inner end, empty later pieces are skipped. The first piece always gets a
// trailing "/" (join({"a"}) is "a/"); no pieces give "".
QString join(std::initializer_list<QString> pieces);
// A file or folder exists at `path`.
bool exists(const QString& path);
// True when `path`, read against the absolute `workingDir` when relative and
// with "." and ".." resolved, names a file-system root, a drive ("C:/.", "C:x/..")
// or volume root ("\\?\C:\") or a network share ("\\server\share"). Both
// platforms' forms are recognised everywhere; nothing touches the disk.
bool namesRoot(const QString& path, const QString& workingDir);
// True when the entry itself is a symbolic link, or on Windows a junction or
// another reparse point, whatever it points to and whether that exists.
bool isLink(const QFileInfo& entry);
// True when the entry exists or is a link, a dangling one included.
bool isPresent(const QFileInfo& entry);
// Removes a file, or a folder with all its content. Never touches a path of 3
// characters or fewer ("C:/", "/") nor one that names a root ("/tmp/..", "C:/.")
// as written or, when it exists, resolved. Links are never followed: a link,
// at the path or anywhere below it, is removed itself and what it points to is
// left as it is. False when nothing was removed.
bool remove(const QString& path);
// Writes the size of an existing path to `size`; false (size untouched) otherwise.
bool fileSize(long long& size, const QString& path);
// Renames `from` to `to`; fails when `to` exists or `from` is missing.
bool rename(const QString& from, const QString& to);
// Calls `callback` for every visible file below `folder`, folders first entered
// recursively in name order. A false answer stops the current folder only; the
// enclosing folder goes on with its next entry.
void walkDir(const QString& folder, const std::function<bool(const QFileInfo&)>& callback);
// Copies `source` to `destination`, replacing what is there and creating missing
// folders. `error` gets the copy's error text when the copy itself fails; a failed
// removal of the old destination returns false without touching it. A link at
// the destination is replaced itself, never removed through. A destination
// that is the source itself (another spelling, a link) or a folder holding it is
// refused: false, nothing touched, `error` untouched.
bool copyFile(const QString& source, const QString& destination, QString& error);
// Writes the MD5 of the file as 32 lower-case hexadecimal digits to `md5`. False,
// with `md5` untouched, when the file cannot be opened or a read fails midway.
bool fileMd5(QString& md5, const QString& path);
// True when the file cannot be opened for reading and writing (a running
// program's executable on Windows). A missing file answers false and is not
// created; a folder, or a path in a missing folder, answers true.
bool fileBeingUsed(const QString& path);

}  // namespace Filepath
