// Stand-in for a command-line tool, copied under the tool's name. Each start
// appends one line to "<own path>.calls": the working directory and every
// argument, separated by \037, in UTF-8. It then follows "<own path>.plan", one
// step a line:
//   out TEXT   writes TEXT to standard output      err TEXT   to standard error
//   sleep MS   waits                               exit CODE  ends with CODE
//   pace SECONDS PROGRAM   runs PROGRAM (a path, taken as written) with this
//              tool's arguments to its end, standard error passed through, then
//              hands on its standard output with every percentage going out on
//              its own, spread evenly over SECONDS however fast the machine ran
//              it, and ends with PROGRAM's exit code
// TEXT is everything after the blank that follows the step's name, with the
// escapes \n \r \t \b \\ and \NNN (octal, up to three digits) undone. A step
// written "OP:step" runs only when OP is the first of the arguments a, t, u and x
// (the tool's operation). Without "exit" the tool ends with 0.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

QByteArray unescape(const QByteArray& text) {
    QByteArray bytes;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char c = text[++i];
        if (c >= '0' && c <= '7') {
            int value = 0;
            for (int digits = 0; digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7';
                 ++digits, ++i) {
                value = value * 8 + (text[i] - '0');
            }
            --i;
            bytes += static_cast<char>(value);
        } else {
            bytes += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == 'b' ? '\b' : c;
        }
    }
    return bytes;
}

void write(FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
    std::fflush(stream);
}

int pace(const QByteArray& step, const QStringList& arguments) {
    const int blank = step.indexOf(' ');
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QString::fromUtf8(step.mid(blank + 1)), arguments);
    if (!tool.waitForFinished(-1)) return 126;
    const QByteArray output = tool.readAllStandardOutput();
    // Every piece but the last ends right after one percentage.
    QList<QByteArray> pieces;
    int start = 0;
    for (int i = 1; i < output.size(); ++i) {
        if (output[i] != '%' || output[i - 1] < '0' || output[i - 1] > '9') continue;
        pieces << output.mid(start, i + 1 - start);
        start = i + 1;
    }
    const int paced = pieces.size();
    pieces << output.mid(start);
    const double pause = paced > 1 ? step.left(blank).toDouble() * 1000 / (paced - 1) : 0;
    for (int i = 0; i < pieces.size(); ++i) {
        write(stdout, pieces[i]);
        if (i + 1 < paced) QThread::msleep(static_cast<unsigned long>(pause));
    }
    return tool.exitCode();
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
    // Bytes go out as the plan gives them, without a carriage return added before
    // each line feed.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString self = QCoreApplication::applicationFilePath();

    QFile calls(self + ".calls");
    const QByteArray call =
        (QStringList{QDir::currentPath()} + arguments).join(QChar(037)).toUtf8();
    if (!calls.open(QIODevice::WriteOnly | QIODevice::Append) || calls.write(call + '\n') < 0) {
        return 125;
    }
    calls.close();

    QString operation;
    for (const QString& argument : arguments) {
        if (QStringList{"a", "t", "u", "x"}.contains(argument)) {
            operation = argument;
            break;
        }
    }

    QFile plan(self + ".plan");
    if (!plan.open(QIODevice::ReadOnly)) return 0;
    for (QByteArray line : plan.readAll().split('\n')) {
        const int colon = line.indexOf(':');
        const int blank = line.indexOf(' ');
        if (colon > 0 && (blank < 0 || colon < blank)) {
            if (QString::fromUtf8(line.left(colon)) != operation) continue;
            line = line.mid(colon + 1);
        }
        const int end = line.indexOf(' ');
        const QByteArray step = end < 0 ? line : line.left(end);
        const QByteArray text = end < 0 ? QByteArray() : unescape(line.mid(end + 1));
        if (step == "out") {
            write(stdout, text);
        } else if (step == "err") {
            write(stderr, text);
        } else if (step == "sleep") {
            QThread::msleep(text.toULong());
        } else if (step == "pace") {
            return pace(line.mid(end + 1), arguments);
        } else if (step == "exit") {
            return text.toInt();
        }
    }
    return 0;
}
