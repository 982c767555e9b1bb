#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>

// Writes the tools' "PROGRESS" and "RESULT" messages, each as one line in one
// write, flushed at once: the runner takes every read as one whole message.
// A result follows the message before it by at least 100 ms.
class MessageWriter {
public:
    explicit MessageWriter(std::FILE* out = stdout);

    // "PROGRESS" followed by the fields; blanks inside a field become "_".
    void progress(const QStringList& fields);
    void success();
    // "RESULT <status> <message>"; line breaks in the message become blanks, and
    // "RESULT SUCCESS" inside it becomes "RESULT_SUCCESS".
    void failure(const QString& status, const QString& message);

private:
    void pauseBeforeResult();
    void write(QByteArray line);

    std::FILE* out;
    QElapsedTimer sinceLastWrite;
};
