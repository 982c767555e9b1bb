#include "http_answer_reader.h"

#include <algorithm>
#include <cctype>

namespace {

const int kMaxHeadBytes = 64 * 1024;  // status lines and headers, interim answers included
const int kMaxLineBytes = 4 * 1024;   // a chunk-size line or a line after a chunk
// More hexadecimal digits than this (after leading zeros) is no chunk size a
// file can have, and would overflow.
const int kMaxChunkSizeDigits = 15;

// The size on a chunk-size line: hexadecimal digits, then optional extensions
// after ";".
bool parseChunkSize(const QByteArray& line, qint64& size) {
    const int extension = line.indexOf(';');
    const QByteArray digits = line.left(extension < 0 ? line.size() : extension).trimmed();
    int zeros = 0;
    while (zeros + 1 < digits.size() && digits[zeros] == '0') ++zeros;
    if (digits.isEmpty() || digits.size() - zeros > kMaxChunkSizeDigits) return false;
    for (const char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    size = digits.mid(zeros).toLongLong(nullptr, 16);
    return true;
}
const int kMaxTrailerBytes = 64 * 1024;

bool isDigits(const QByteArray& text) {
    if (text.isEmpty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

HttpAnswerReader::HttpAnswerReader(bool bodyless) : bodyless(bodyless) {}

void HttpAnswerReader::append(const QByteArray& bytes) {
    if (stage == Stage::Done || stage == Stage::Failed) return;
    // Dropped here, once a read, rather than behind every line: a read full of
    // short lines would otherwise move the rest of it once for each.
    incoming.remove(0, unread);
    unread = 0;
    incoming += bytes;
}

HttpAnswerReader::Step HttpAnswerReader::next() {
    switch (stage) {
        case Stage::Head:
            return readHead();
        case Stage::Body:
            return readBody();
        case Stage::Chunked:
            return readChunked();
        case Stage::Done:
            return Step::Complete;
        case Stage::Failed:
            break;
    }
    return Step::Failed;
}

HttpAnswerReader::Step HttpAnswerReader::close() {
    if (stage == Stage::Done) return Step::Complete;
    if (stage == Stage::Failed) return Step::Failed;
    // Without a length the body ends with the connection.
    if (stage == Stage::Body && expected < 0) {
        stage = Stage::Done;
        return Step::Complete;
    }
    return fail(stage == Stage::Head ? "服务器没有响应就关闭了连接" : "服务器在响应中途关闭了连接");
}

QByteArray HttpAnswerReader::takeBody() {
    QByteArray taken;
    taken.swap(body);
    return taken;
}

HttpAnswerReader::Step HttpAnswerReader::finish() {
    stage = Stage::Done;
    incoming.clear();
    unread = 0;
    return Step::Complete;
}

HttpAnswerReader::Step HttpAnswerReader::fail(const QString& text) {
    stage = Stage::Failed;
    failure = text;
    incoming.clear();
    unread = 0;
    return Step::Failed;
}

// Reads the status line and headers once they are all there, skipping interim
// (1xx) answers.
HttpAnswerReader::Step HttpAnswerReader::readHead() {
    for (;;) {
        // What has been searched already is not searched again.
        const int available = incoming.size() - unread;
        const int found = incoming.indexOf("\r\n\r\n", unread + std::max(0, scanned - 3));
        const int end = found < 0 ? -1 : found - unread;
        if (end < 0) scanned = available;
        if (headBytes + (end < 0 ? available : end + 4) > kMaxHeadBytes) {
            return fail(QString("服务器的响应头超过 %1 KiB, 不再读取").arg(kMaxHeadBytes / 1024));
        }
        if (end < 0) return Step::More;
        headBytes += end + 4;
        scanned = 0;
        const QList<QByteArray> lines = incoming.mid(unread, end).split('\n');
        unread += end + 4;
        const QList<QByteArray> status = lines.first().trimmed().split(' ');
        bool numeric = false;
        const int code = status.size() >= 2 ? status[1].toInt(&numeric) : 0;
        if (!status.first().startsWith("HTTP/1.") || !numeric || code < 100 || code > 999) {
            return fail("服务器的响应不是 HTTP: " + QString::fromLatin1(lines.first()));
        }
        if (code < 200) continue;

        statusCode = code;
        const int reasonStart = lines.first().indexOf(' ', lines.first().indexOf(' ') + 1);
        reasonPhrase =
            reasonStart < 0 ? QByteArray() : lines.first().mid(reasonStart + 1).trimmed();
        bool chunked = false;
        QList<QByteArray> lengths;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon <= 0) continue;
            const QByteArray name = lines[i].left(colon).trimmed();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            const QByteArray lower = name.toLower();
            if (lower == "transfer-encoding") chunked = value.toLower().contains("chunked");
            if (lower == "content-length") lengths.append(value);
            headerList.append({name, value});
        }

        expected = -1;
        if (bodyless || code == 204 || code == 304) {
            expected = 0;
        } else if (!chunked && !lengths.isEmpty()) {
            // A length that is no number, or two that differ, would make a cut
            // answer pass for a whole one.
            bool ok = isDigits(lengths.first()) && lengths.count(lengths.first()) == lengths.size();
            if (ok) expected = lengths.first().toLongLong(&ok);
            if (!ok)
                return fail("服务器的响应长度无效: " + QString::fromLatin1(lengths.join(", ")));
        }
        stage = chunked && expected != 0 ? Stage::Chunked : Stage::Body;
        return Step::Head;
    }
}

HttpAnswerReader::Step HttpAnswerReader::readBody() {
    if (expected == 0) return finish();
    const int available = incoming.size() - unread;
    const qint64 take = expected < 0 ? available : std::min<qint64>(expected, available);
    if (take == 0) return Step::More;
    body += incoming.mid(unread, static_cast<int>(take));
    unread += static_cast<int>(take);
    if (expected > 0) expected -= take;
    return Step::Body;
}

HttpAnswerReader::Step HttpAnswerReader::readChunked() {
    for (;;) {
        if (chunkPart == ChunkPart::Data) {
            const qint64 take = std::min<qint64>(chunkLeft, incoming.size() - unread);
            if (take == 0) return Step::More;
            body += incoming.mid(unread, static_cast<int>(take));
            unread += static_cast<int>(take);
            chunkLeft -= take;
            if (chunkLeft == 0) chunkPart = ChunkPart::DataEnd;
            return Step::Body;
        }
        const int available = incoming.size() - unread;
        const int found = incoming.indexOf("\r\n", unread + std::max(0, scanned - 1));
        const int end = found < 0 ? -1 : found - unread;
        if (end < 0) scanned = available;
        if ((end < 0 ? available : end) > kMaxLineBytes) {
            return fail(QString("服务器的分块编码无效: 一行超过 %1 字节").arg(kMaxLineBytes));
        }
        if (end < 0) return Step::More;
        scanned = 0;
        const QByteArray line = incoming.mid(unread, end);
        unread += end + 2;
        if (chunkPart == ChunkPart::DataEnd) {
            if (!line.isEmpty()) return fail("服务器的分块编码无效: 数据块后面没有换行");
            chunkPart = ChunkPart::SizeLine;
        } else if (chunkPart == ChunkPart::Trailer) {
            if (line.isEmpty()) return finish();
            trailerBytes += end + 2;
            if (trailerBytes > kMaxTrailerBytes) {
                return fail(
                    QString("服务器的分块编码无效: 尾部超过 %1 KiB").arg(kMaxTrailerBytes / 1024));
            }
        } else {
            if (!parseChunkSize(line, chunkLeft)) {
                return fail("服务器的分块编码无效: 数据块长度 " +
                            QString::fromLatin1(line.left(64)));
            }
            chunkPart = chunkLeft == 0 ? ChunkPart::Trailer : ChunkPart::Data;
        }
    }
}
