// Feeds every file of the corpus folders (or the files) named on the command line
// to the fuzz target, one input at a time as libFuzzer does, so that every build
// keeps the inputs that once broke a reader working without libFuzzer.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo named(QString::fromLocal8Bit(argv[i]));
        QStringList paths;
        if (named.isDir()) {
            for (const QFileInfo& file :
                 QDir(named.filePath()).entryInfoList(QDir::Files, QDir::Name))
                paths.append(file.filePath());
        } else {
            paths.append(named.filePath());
        }
        for (const QString& path : paths) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 1;
            }
            const QByteArray bytes = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                   static_cast<size_t>(bytes.size()));
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    // An empty or missing corpus replays nothing and proves nothing.
    return inputs > 0 ? 0 : 1;
}
