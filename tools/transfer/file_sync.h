#pragma once

#include <QFile>
#include <QString>

// Durable writes for the transfer tools, one implementation per platform.
namespace FileSync {

// Pushes what was written to the open `file` through Qt's and the system's
// buffers onto the disk, so that a rename that follows never publishes an
// empty or short file after a power cut. False with a message in `error`.
bool toDisk(QFile& file, QString& error);

}  // namespace FileSync
