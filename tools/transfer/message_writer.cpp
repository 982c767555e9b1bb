#include "message_writer.h"

#include <QThread>

namespace {

// Longest line written in one piece; the stream buffer is made larger than this.
const int kMaxLineBytes = 16 * 1024;
// A result must reach the runner in a read of its own: merged into one read
// with the progress before it, a failure's text and that last progress are
// lost. A pause after the previous message keeps the two reads apart.
const qint64 kGapBeforeResultMs = 100;

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

void MessageWriter::success() {
    pauseBeforeResult();
    write("RESULT SUCCESS\n");
}

void MessageWriter::failure(const QString& status, const QString& message) {
    pauseBeforeResult();
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

void MessageWriter::pauseBeforeResult() {
    if (sinceLastWrite.isValid() && sinceLastWrite.elapsed() < kGapBeforeResultMs) {
        QThread::msleep(static_cast<unsigned long>(kGapBeforeResultMs - sinceLastWrite.elapsed()));
    }
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
