// Downloads a 512 MB file from a loopback HTTP server, alternately through
// UrlDownloader (which runs the real pvl_downloader.exe beside this program) and
// through "curl -o" followed by "sync" of the file (the tool puts its data on
// disk before the final rename, so the reference does the same), and prints the
// median times and their ratio.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <glog/logging.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "url_downloader.h"

namespace {

const qint64 kFileSize = 512LL * 1024 * 1024;
const int kRounds = 5;

bool writeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    std::mt19937 random(11);
    QByteArray chunk(1 << 20, '\0');
    for (int i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(random());
    for (qint64 written = 0; written < kFileSize; written += chunk.size()) {
        chunk[0] = static_cast<char>(written >> 20);  // no two chunks alike
        if (file.write(chunk) != chunk.size()) return false;
    }
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_ERROR;
    google::InitGoogleLogging(argv[0]);

    const QString base = qEnvironmentVariable("BUILD_DIR", QDir::tempPath());
    QTemporaryDir folder(base + "/bench_download-XXXXXX");
    if (!folder.isValid() || !writeFile(folder.filePath("data.bin"))) {
        std::fprintf(stderr, "cannot write the test file under %s\n", qPrintable(base));
        return 1;
    }

    QProcess server;
    server.start("python3", {PVL_HTTP_SERVER, folder.path()});
    if (!server.waitForStarted(10000) || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the HTTP server did not start\n");
        return 1;
    }
    const QByteArray port = server.readLine().trimmed().mid(5);
    const QString url = "http://127.0.0.1:" + QString::fromLatin1(port) + "/files/data.bin";
    const QString target = folder.filePath("out.bin");

    std::vector<double> tool;
    std::vector<double> curl;
    bool ok = true;
    for (int round = 0; round < kRounds && ok; ++round) {
        for (int which = 0; which < 2 && ok; ++which) {
            // Alternate the order so that neither side always goes first.
            const bool viaTool = (round + which) % 2 == 0;
            QFile::remove(target);
            QElapsedTimer timer;
            timer.start();
            if (viaTool) {
                UrlDownloader downloader(url.toStdString(), target.toStdString());
                ok = downloader.exec();
                if (!ok)
                    std::fprintf(stderr, "UrlDownloader: %s\n",
                                 downloader.getErrorMessage().c_str());
            } else {
                ok = QProcess::execute("curl", {"-sS", "-o", target, url}) == 0 &&
                     QProcess::execute("sync", {target}) == 0;
                if (!ok) std::fprintf(stderr, "curl or sync failed\n");
            }
            const double seconds = timer.nsecsElapsed() / 1e9;
            ok = ok && QFileInfo(target).size() == kFileSize;
            (viaTool ? tool : curl).push_back(seconds);
            std::printf("round %d %-13s %.3f s\n", round + 1,
                        viaTool ? "UrlDownloader" : "curl + sync", seconds);
        }
    }
    QFile::remove(target);
    server.closeWriteChannel();
    if (!server.waitForFinished(5000)) server.kill();
    if (!ok) return 1;

    const double toolMedian = median(tool);
    const double curlMedian = median(curl);
    std::printf(
        "download 512 MB: UrlDownloader median %.3f s (%.0f MB/s), curl + sync median %.3f s "
        "(%.0f MB/s)\n",
        toolMedian, 512 / toolMedian, curlMedian, 512 / curlMedian);
    std::printf("ratio UrlDownloader / curl: %.2f (target <= 1.10)\n", toolMedian / curlMedian);
    return 0;
}
