// Digests a 1 GiB file with Filepath::fileMd5 and, alternating in the same run,
// with `openssl md5` and `md5sum`; prints the median wall times and ratios, and
// the peak memory growth of digesting a 64 MiB and a 1 GiB file.
//   bench_md5 [rounds]          the benchmark
//   bench_md5 --digest FILE     (internal) digest FILE, print peak RSS growth in KiB
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "filepath.h"

namespace {

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool makeFile(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator gen(42);
    gen.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    for (qint64 written = 0; written < size; written += block.size()) {
        if (file.write(block) != block.size()) return false;
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double timeCommand(const QString& program, const QStringList& args) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, args);
    process.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e9;
}

long digestPeakGrowth(const QString& self, const QString& path) {
    QProcess process;
    process.start(self, {"--digest", path});
    process.waitForFinished(-1);
    return process.readAllStandardOutput().trimmed().toLong();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == "--digest") {
        const long before = peakRssKiB();
        QString md5;
        if (!Filepath::fileMd5(md5, args.value(2))) return 1;
        std::printf("%ld\n", peakRssKiB() - before);
        return 0;
    }
    const int rounds = std::max(1, args.value(1, "5").toInt());

    QTemporaryDir tmp;
    const QString big = tmp.filePath("1 GiB.bin");
    const QString small = tmp.filePath("64 MiB.bin");
    if (!makeFile(big, 1LL << 30) || !makeFile(small, 64LL << 20)) {
        std::fprintf(stderr, "cannot write the test files under %s\n", qPrintable(tmp.path()));
        return 1;
    }

    std::vector<double> ours, openssl, md5sum;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        QString md5;
        Filepath::fileMd5(md5, big);
        ours.push_back(timer.nsecsElapsed() / 1e9);
        openssl.push_back(timeCommand("openssl", {"md5", big}));
        md5sum.push_back(timeCommand("md5sum", {big}));
    }
    const double o = median(ours), s = median(openssl), m = median(md5sum);
    std::printf("fileMd5 of 1 GiB, median of %d: %.3f s\n", rounds, o);
    std::printf("openssl md5: %.3f s   ratio %.3f (target <= 1.10)\n", s, o / s);
    std::printf("md5sum:      %.3f s   ratio %.3f\n", m, o / m);
    const long growthSmall = digestPeakGrowth(args.value(0), small);
    const long growthBig = digestPeakGrowth(args.value(0), big);
    std::printf(
        "peak memory growth: 64 MiB file %ld KiB, 1 GiB file %ld KiB (difference %ld KiB, "
        "target within 4096)\n",
        growthSmall, growthBig, growthBig - growthSmall);
    return 0;
}
