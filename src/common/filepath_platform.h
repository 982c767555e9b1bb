#pragma once

#include <QFileInfo>
#include <QString>

// What the path functions do differently on each platform.
namespace Filepath::Platform {

// True when the entry itself is a symbolic link, a junction or another reparse
// point to a folder, looked at without following it; a dangling one counts.
bool isLink(const QFileInfo& entry);
// Removes the link at `path` itself; what it points to is never touched.
bool removeLink(const QString& path);

}  // namespace Filepath::Platform
