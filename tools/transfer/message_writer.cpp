#include "message_writer.h"

#include <QThread>

namespace {

// Longest line written in one piece; the stream buffer is made larger than this.
const int kMaxLineBytes = 16 * 1024;
// A failure message must reach the runner in a read of its own, or its text is
// lost; a pause after the previous message keeps the two reads apart.
const qint64 kGapBeforeFailureMs = 100;

}  // namespace

MessageWriter::MessageWriter(std::FILE* out) : out(out) {
    std::setvbuf(out, nullptr, _IOFBF, 2 * kMaxLineBytes);
}

void MessageWriter::progress(const QStringList& fields) {
    QString line = "PROGRESS";
    for (QString field : fields) {
        field.replace(QRegExp("\\s"), "_");
        line += ' ' + (field.isEmpty() ? QString("_") : field);
    }
    write(line.toUtf8() + '\n');
}

void MessageWriter::success() { write("RESULT SUCCESS\n"); }

void MessageWriter::failure(const QString& status, const QString& message) {
    if (sinceLastWrite.isValid() && sinceLastWrite.elapsed() < kGapBeforeFailureMs) {
        QThread::msleep(static_cast<unsigned long>(kGapBeforeFailureMs - sinceLastWrite.elapsed()));
    }
    QString text = message.simplified();
    if (text.isEmpty()) text = "未知错误";
    // The runner counts "RESULT SUCCESS" anywhere in the output as success, and the
    // message may quote a URL, a path or a server's text that holds those words.
    text.replace("RESULT SUCCESS", "RESULT_SUCCESS");
    QString word = status.simplified().replace(' ', '_');
    // "SUCCESS" would read as success to the runner.
    if (word.isEmpty() || word == "SUCCESS") word = "ERROR";
    write(("RESULT " + word + ' ' + text).toUtf8() + '\n');
}

void MessageWriter::write(QByteArray line) {
    if (line.size() > kMaxLineBytes) {
        line.truncate(kMaxLineBytes - 1);
        line.append('\n');
    }
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), out);
    std::fflush(out);
    sinceLastWrite.start();
}
