#include <QCoreApplication>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

#include "argument_decoder.h"
#include "http_download.h"
#include "message_writer.h"

namespace {

const char kUsage[] =
    "Usage: pvl_downloader.exe <job>\n"
    "\n"
    "Downloads one URL over HTTP or HTTPS into a file. <job> is a JSON object,\n"
    "encoded the way the client's download runner encodes it, with the keys:\n"
    "  url            the address; redirects are followed (never from HTTPS to HTTP)\n"
    "  save_filename  the file to write; missing folders are created and an\n"
    "                 existing file is replaced once the download is complete\n"
    "\n"
    "The body is written to \"<save_filename>.XXXXXX.part\" beside the target and\n"
    "renamed only after it has arrived whole (matching Content-Length when the\n"
    "server announces one), so a failed download never leaves a partial file\n"
    "under the target's name.\n"
    "\n"
    "Standard output, one message per line:\n"
    "  PROGRESS <percent> <received bytes> <total bytes>   at most every 200 ms;\n"
    "                                                      total is -1 when unknown\n"
    "  RESULT SUCCESS\n"
    "  RESULT <status> <message>   status: ARGUMENT_ERROR, HTTP_ERROR,\n"
    "                              NETWORK_ERROR or FILE_ERROR\n"
    "Exit code: 0 on success, 1 on failure, 2 for a bad argument.\n";

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    MessageWriter messages;
    if (arguments.size() != 2) {
        std::fputs(kUsage, stderr);
        messages.failure("ARGUMENT_ERROR", "需要且只需要一个参数");
        return 2;
    }
    QJsonObject job;
    QString error;
    if (!ArgumentDecoder::decodeJob(arguments[1], job, error)) {
        messages.failure("ARGUMENT_ERROR", error);
        return 2;
    }

    HttpDownload download(job.value("url").toString(), job.value("save_filename").toString(),
                          messages);
    QObject::connect(&download, &HttpDownload::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(0, &download, &HttpDownload::start);
    app.exec();
    return download.succeeded() ? 0 : 1;
}
