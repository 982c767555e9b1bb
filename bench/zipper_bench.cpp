// Extracts an archive of about 300 MB in 5,000 files with Zipper::uncompress
// and, alternating in the same run, with 7zz started directly with the same
// arguments; prints the median ratio of the wall times (target: at most 1.03).
//
// Zipper finds its tool under the application folder, which Qt takes from
// /proc/self/exe: the benchmark hard-links itself into a scratch folder under
// the build folder (BUILD_DIR, else the executable's parent folder), places
// 7zz there as 7z/pvl_7z.exe, runs from there and removes the folder.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <glog/logging.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "zipper.h"

namespace {

constexpr int kFiles = 5000;
constexpr int kFilesPerFolder = 100;
constexpr int kPairs = 9;

// Three files in four are random bytes (stored), the rest text-like slices of
// a word pool (deflated), so that the extraction both writes and inflates: about
// 360 MB on disk, 300 MB packed.
bool generateTree(const QString& root) {
    std::mt19937_64 random(20240607);
    const char* words[] = {"update ", "archive ", "client ", "folder ",  "version ", "pavlune ",
                           "tray ",   "package ", "digest ", "restart ", "7z ",      "\n"};
    QByteArray pool;
    while (pool.size() < (1 << 20)) pool += words[random() % 12];
    std::uniform_int_distribution<int> sizes(4 << 10, 140 << 10);
    for (int i = 0; i < kFiles; ++i) {
        const QString folder =
            QString("%1/dir %2").arg(root).arg(i / kFilesPerFolder, 2, 10, QChar('0'));
        if (i % kFilesPerFolder == 0 && !QDir().mkpath(folder)) return false;
        const int size = sizes(random);
        QByteArray data;
        if (i % 4 != 3) {
            data.resize(size);
            for (int k = 0; k + 8 <= size; k += 8) {
                const quint64 value = random();
                memcpy(data.data() + k, &value, 8);
            }
        } else {
            data = pool.mid(random() % (pool.size() - size), size);
        }
        QFile file(QString("%1/file %2.dat").arg(folder).arg(i));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) return false;
    }
    return true;
}

QStringList extractArguments(const QString& archive, const QString& out) {
    return {"-sccUTF-8", "-bsp1", "x", archive, "-o" + out, "-aoa"};
}

double cpuSecondsOfThisProcess() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double zipperCpuSecs = 0;

double timeZipper(const QString& archive, const QString& out) {
    Zipper zipper(archive, out, "zip");
    int reports = 0;
    zipper.setProgressCallback([&](int) { ++reports; });
    const double cpuBefore = cpuSecondsOfThisProcess();
    QElapsedTimer timer;
    timer.start();
    if (!zipper.uncompress()) {
        fprintf(stderr, "Zipper failed: %s\n", zipper.getErrorMessage().c_str());
        return -1;
    }
    const double secs = timer.nsecsElapsed() / 1e9;
    zipperCpuSecs += cpuSecondsOfThisProcess() - cpuBefore;
    return secs;
}

double timeDirect(const QString& tool, const QString& archive, const QString& out) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(tool, extractArguments(archive, out));
    process.closeWriteChannel();
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        fprintf(stderr, "7zz failed\n");
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

int runBenchmark(const QString& work) {
    const QString tool = QStandardPaths::findExecutable("7zz");
    const QString data = work + "/data";
    const QString archive = work + "/bench.zip";
    printf("generating %d files ...\n", kFiles);
    fflush(stdout);
    if (!generateTree(data)) return 1;
    QProcess packer;
    packer.setStandardOutputFile(QProcess::nullDevice());
    packer.setWorkingDirectory(work);
    packer.start(tool, {"a", "-tzip", archive, "data"});
    if (!packer.waitForFinished(-1) || packer.exitCode() != 0) return 1;
    QDir(data).removeRecursively();
    sync();
    printf("archive: %.0f MB packed, %d files\n", QFileInfo(archive).size() / 1e6, kFiles);

    std::vector<double> ratios;
    const QString out = work + "/out";
    for (int pair = 0; pair < kPairs; ++pair) {
        // Every run starts with the previous run's writes flushed. Alternate which
        // one goes first, so that neither always meets a warmer cache.
        double zipperSecs, directSecs;
        if (pair % 2 == 0) {
            zipperSecs = timeZipper(archive, out);
            QDir(out).removeRecursively();
            sync();
            directSecs = timeDirect(tool, archive, out);
        } else {
            directSecs = timeDirect(tool, archive, out);
            QDir(out).removeRecursively();
            sync();
            zipperSecs = timeZipper(archive, out);
        }
        QDir(out).removeRecursively();
        sync();
        if (zipperSecs < 0 || directSecs < 0) return 1;
        ratios.push_back(zipperSecs / directSecs);
        printf("pair %d: Zipper %.3f s, 7zz %.3f s, ratio %.3f\n", pair + 1, zipperSecs, directSecs,
               ratios.back());
        fflush(stdout);
    }
    std::sort(ratios.begin(), ratios.end());
    printf("Zipper's own CPU time per extraction: %.3f s\n", zipperCpuSecs / kPairs);
    printf("median ratio Zipper::uncompress / 7zz x: %.3f (target <= 1.03)\n",
           ratios[ratios.size() / 2]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* work = getenv("BENCH_ZIPPER_WORK");
    if (work == nullptr) {
        char self[4096];
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0) return 1;
        self[length] = '\0';
        const char* build = getenv("BUILD_DIR");
        const QString base = build ? QString::fromLocal8Bit(build)
                                   : QFileInfo(QString::fromLocal8Bit(self)).absolutePath() + "/..";
        QTemporaryDir scratch(base + "/bench_zipper-XXXXXX");
        const QString tool = QStandardPaths::findExecutable("7zz");
        if (!scratch.isValid() || tool.isEmpty()) {
            fprintf(stderr, "no scratch folder or no 7zz\n");
            return 1;
        }
        const QByteArray copy = (scratch.path() + "/bench_zipper").toUtf8();
        if (link(self, copy.constData()) != 0 && !QFile::copy(self, copy)) return 1;
        QDir().mkpath(scratch.path() + "/7z");
        if (!QFile::link(tool, scratch.path() + "/7z/pvl_7z.exe")) return 1;
        setenv("BENCH_ZIPPER_WORK", scratch.path().toUtf8().constData(), 1);
        const pid_t child = fork();
        if (child == 0) {
            execv(copy.constData(), argv);
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    QCoreApplication app(argc, argv);
    FLAGS_log_dir = work;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
    google::InitGoogleLogging(argv[0]);
    return runBenchmark(QString::fromLocal8Bit(work));
}
