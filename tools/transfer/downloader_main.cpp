#include <QCoreApplication>
#include <QJsonObject>

#include "http_download.h"
#include "message_writer.h"
#include "tool_main.h"

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
    MessageWriter messages;
    QJsonObject job;
    int exitCode = 0;
    if (!ToolMain::readJob(QCoreApplication::arguments(), kUsage, messages, job, exitCode)) {
        return exitCode;
    }
    HttpDownload download(job.value("url").toString(), job.value("save_filename").toString(),
                          messages);
    return ToolMain::runToCompletion(app, download);
}
