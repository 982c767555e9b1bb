#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

// Small blocking helpers. None of them logs; failures are a false result plus a
// Chinese message in the caller's `error`, which is never cleared on success.
namespace Utils {

// --- Files, HTTP and commands ---

// Reads the whole file as UTF-8, cut at the first NUL byte, untrimmed. On failure
// writes a message to `error` and leaves `content` untouched.
bool readSimpleFile(const QString& path, QString& error, QString& content);
// Writes `data` as the whole file, creating missing folders. False with a message
// when the file cannot be opened or not every byte was written.
bool simpleWriteFile(const QString& path, const QByteArray& data, QString& error);
// GET without redirects, run in a local event loop on the calling thread (needs the
// application object). False on a network or HTTP error (`body` untouched) or when
// the body size differs from "Content-Length" (`body` keeps what arrived).
bool simpleHttpGet(const QString& url, QByteArray& body, QString& error);
// simpleHttpGet, then simpleWriteFile; a failed GET creates no file.
bool simpleDownloadFile(const QString& url, const QString& path, QString& error);
// Runs the program to its end and returns its standard output (UTF-8, cut at the
// first NUL). A bare program name is looked up in the application's folder first,
// then in PATH. A program that cannot start gives "". Blocks until the child ends.
QString runSimpleCommand(const QString& program, const QStringList& arguments);
// Opens the system's default-apps settings page on Windows; elsewhere does nothing.
void openWindowsDefaultAppsSettings();

// --- Desktop and machine helpers ---

bool openUrlInBrowser(const QString& url);
bool openDir(const QString& path);
void copyTextToClipboard(const QString& text);
QPoint getWgtGlobalPos(QWidget* widget);
QRect getCenterRectBySize(const QRect& outer, int width, int height);
QString floatToStr(float value, int decimals);
QString createUuid();
bool getMac(QString& mac);

// --- Transfer tools ---

// Encodes a transfer tool's JSON argument: byte rotation by the digits of a fixed
// key, then Base64.
QString argCyclicShiftEncode(const QString& text);

}  // namespace Utils
