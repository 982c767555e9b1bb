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

// Text as the program's messages and tools carry it: UTF-8 up to, not including,
// the first NUL byte; malformed sequences become replacement characters.
QString fromUtf8UpToNul(const QByteArray& bytes);

// --- Files, HTTP and commands ---

// Reads the whole file as UTF-8, cut at the first NUL byte, untrimmed. On failure
// writes a message to `error` and leaves `content` untouched.
bool readSimpleFile(const QString& path, QString& error, QString& content);
// Writes `data` as the whole file, creating missing folders. False with a message
// when the file cannot be opened or not every byte was written.
bool simpleWriteFile(const QString& path, const QByteArray& data, QString& error);
// GET without redirects, run in a local event loop on the calling thread (needs the
// application object). False on a network or HTTP error (`body` untouched) or when
// the body size differs from "Content-Length" (`body` keeps what arrived); so also
// for a chunked answer or a "Content-Length" that is not a decimal number, whose
// end cannot be checked. HTTPS verifies certificate and host name against the
// system's roots (TLS 1.2 at least); a refusal's text names the host and reasons.
bool simpleHttpGet(const QString& url, QByteArray& body, QString& error);
// simpleHttpGet, then simpleWriteFile; a failed GET creates no file.
bool simpleDownloadFile(const QString& url, const QString& path, QString& error);
// Runs the program to its end and returns its standard output (UTF-8, cut at the
// first NUL). A bare program name is looked up in the application's folder first,
// then in PATH. A program that cannot start gives "". Blocks until the child ends.
QString runSimpleCommand(const QString& program, const QStringList& arguments);
// Opens the system's default-apps settings page on Windows; elsewhere does nothing.
void openWindowsDefaultAppsSettings();

// --- Desktop and machine helpers (utils_desktop.cpp) ---

// True when the desktop service opened the address. Otherwise starts the browser
// registered for http on it, if any, and still returns false. The started
// process's object is released by the calling thread's event loop.
bool openUrlInBrowser(const QString& url);
// The desktop service's answer to opening the local folder (or file) `path`.
bool openDir(const QString& path);
// Replaces the clipboard's text. User-interface thread only.
void copyTextToClipboard(const QString& text);
// Screen position of the widget's top-left corner. User-interface thread only.
QPoint getWgtGlobalPos(QWidget* widget);
// A width x height rectangle centred in `outer`; odd leftovers (truncated toward
// zero) put the extra pixel right and below, larger sizes overhang both sides.
QRect getCenterRectBySize(const QRect& outer, int width, int height);
// The value widened to double, in fixed notation with `decimals` digits.
QString floatToStr(float value, int decimals);
// A fresh random identifier: 32 lower-case hexadecimal digits.
QString createUuid();
// The last answering network adapter's hardware address as "XX:XX:XX:XX:XX:XX".
// `mac` is cleared first; false (and "") when no adapter answers.
bool getMac(QString& mac);

// --- Transfer tools ---

// Encodes a transfer tool's JSON argument: byte rotation by the digits of the key
// in transfer_argument_key.h, then Base64.
QString argCyclicShiftEncode(const QString& text);

}  // namespace Utils
