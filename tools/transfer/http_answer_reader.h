#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Reads one HTTP/1.1 answer from the bytes of its connection, in whatever pieces
// they arrive: interim (1xx) answers skipped, the status line and headers, then
// a body framed by Content-Length, chunked encoding or the end of the
// connection. What it keeps is bounded: the status lines and headers fail past
// 64 KiB, a chunk-size line or the line after a chunk past 4 KiB, the trailers
// past 64 KiB; body bytes are handed out as they arrive.
class HttpAnswerReader {
public:
    enum class Step {
        More,      // nothing more until further bytes arrive or the connection ends
        Head,      // the final status line and headers are in: status(), reason(), headers()
        Body,      // body bytes are in: takeBody()
        Complete,  // the answer has ended
        Failed,    // the answer is broken: error() says how
    };

    // `bodyless`: the answer to a HEAD request, which ends with its head.
    explicit HttpAnswerReader(bool bodyless);

    void append(const QByteArray& bytes);
    // The next step from the bytes appended so far; call it until More,
    // Complete or Failed. After Complete or Failed it stays there.
    Step next();
    // The connection has ended: Complete when the body ran to its end,
    // otherwise Failed.
    Step close();

    int status() const { return statusCode; }
    const QByteArray& reason() const { return reasonPhrase; }
    // The headers in the order received, names as sent, values trimmed.
    const QList<QPair<QByteArray, QByteArray>>& headers() const { return headerList; }
    QByteArray takeBody();
    const QString& error() const { return failure; }

private:
    enum class Stage { Head, Body, Chunked, Done, Failed };
    enum class ChunkPart { SizeLine, Data, DataEnd, Trailer };

    Step readHead();
    Step readBody();
    Step readChunked();
    Step finish();
    Step fail(const QString& text);

    bool bodyless;
    Stage stage = Stage::Head;
    QByteArray incoming;
    // The bytes at the start of `incoming` already read.
    int unread = 0;
    // The unread bytes searched for a line's end in vain.
    int scanned = 0;
    qint64 headBytes = 0;
    qint64 trailerBytes = 0;
    int statusCode = 0;
    QByteArray reasonPhrase;
    QList<QPair<QByteArray, QByteArray>> headerList;
    QByteArray body;
    qint64 expected = -1;  // body bytes still to come; -1 until the connection ends
    ChunkPart chunkPart = ChunkPart::SizeLine;
    qint64 chunkLeft = 0;
    QString failure;
};
