#include "archive_output.h"

#include <QList>
#include <QRegularExpression>

#include "utils.h"

namespace ArchiveOutput {

namespace {

constexpr char kEverythingIsOk[] = "Everything is Ok";
constexpr char kCrcFailed[] = "ERROR: CRC Failed : ";

// The tool ends its lines with CR LF on Windows and with LF elsewhere, and
// rewrites progress lines with a bare CR: all three end a line.
QList<QByteArray> splitLines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    int start = 0;
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n') continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') ++i;
        start = i + 1;
    }
    lines.append(bytes.mid(start));
    return lines;
}

}  // namespace

QString readChunk(const QByteArray& chunk, QByteArray& output) {
    const QString text = Utils::fromUtf8UpToNul(chunk);
    output.append(text.toUtf8());
    return text;
}

int percentage(const QString& chunk) {
    static const QRegularExpression percent("(\\d{1,3})%");
    const QRegularExpressionMatch match = percent.match(chunk);
    if (!match.hasMatch()) return -1;
    const int value = match.captured(1).toInt(nullptr, 10);
    return value > 99 ? -1 : value;
}

bool succeeded(const QByteArray& output, int exitCode, QString& errorMessage) {
    if (output.contains(kEverythingIsOk)) return true;
    if (exitCode == 0) return true;

    // The last line with text says why the tool gave up; the first line is its
    // banner's leading blank line and never the reason.
    const QList<QByteArray> lines = splitLines(output);
    for (int i = lines.size() - 1; i >= 1; --i) {
        errorMessage = Utils::fromUtf8UpToNul(lines.at(i).trimmed());
        if (!errorMessage.isEmpty()) break;
    }
    return false;
}

QStringList damagedEntries(const QByteArray& errorOutput) {
    QStringList names;
    const QByteArray crcFailed(kCrcFailed);
    for (const QByteArray& line : splitLines(errorOutput)) {
        if (line.startsWith(crcFailed))
            names.append(Utils::fromUtf8UpToNul(line.mid(crcFailed.size())));
    }
    return names;
}

}  // namespace ArchiveOutput
