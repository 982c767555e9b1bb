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
    "The body is written to \"<save_filename>.part\" beside the target and\n"
    "renamed only after it has arrived whole (matching Content-Length when the\n"
    "server announces one) and is on disk, so a failed download never leaves a\n"
    "partial file under the target's name. Only HTTP 200, or 206 continuing the\n"
    "partial file, is the file: any other status fails the run and leaves the\n"
    "target as it was. \"<save_filename>.part.meta\" keeps the URL and the\n"
    "server's ETag or Last-Modified: a later run for the same URL continues the\n"
    "partial file with Range and If-Range, and starts afresh when the server's\n"
    "file has changed (also when a 206 names another version) or it ignores\n"
    "ranges. Dropped connections, stalls of 60 s and HTTP 502/503/504 are tried\n"
    "again up to 3 times, 1, 2 and 4 s apart. A run that fails keeps only a\n"
    "partial file that can be continued, and only one it wrote itself or one\n"
    "that an answer other than the file left alone.\n"
    "An existing \"<save_filename>.part.lock\" keeps the run out while another\n"
    "run holds it; a lock no running program holds is taken over.\n"
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
    if (!ToolMain::readJob(QCoreApplication::arguments(), kUsage, messages, job, exitCode) ||
        !ToolMain::setUpTrust(messages, exitCode)) {
        return exitCode;
    }
    HttpDownload download(job.value("url").toString(), job.value("save_filename").toString(),
                          messages);
    return ToolMain::runToCompletion(app, download);
}
