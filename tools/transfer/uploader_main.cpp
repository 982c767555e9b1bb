#include <QCoreApplication>
#include <QJsonObject>

#include "message_writer.h"
#include "s3_upload.h"
#include "tool_main.h"

namespace {

const char kUsage[] =
    "Usage: pvl_uploader.exe <job>\n"
    "\n"
    "Uploads one local file to an S3-compatible object store, signed with AWS\n"
    "Signature Version 4. <job> is a JSON object, encoded the way the client's\n"
    "upload runner encodes it, with the keys:\n"
    "  local_filename       the file to upload\n"
    "  oss_endpoint         the store's host[:port]; a scheme given here\n"
    "                       (http:// or https://) is kept\n"
    "  oss_bucket, oss_key  where the object goes\n"
    "  oss_ak, oss_sk       access key id and secret\n"
    "  oss_region           the signing region (us-east-1 when empty)\n"
    "  disable_ssl          true: plain HTTP for an endpoint without a scheme\n"
    "  s3_force_path_style  true: http(s)://endpoint/bucket/key;\n"
    "                       false: http(s)://bucket.endpoint/key\n"
    "  pool_size            parts of a multipart upload in flight at once (1-16)\n"
    "  upload_file          optional: the file name a browser offers when the\n"
    "                       object is downloaded (sent as Content-Disposition);\n"
    "                       absent or empty: none\n"
    "\n"
    "Files up to 8 MiB go up in one PUT; larger ones as a multipart upload in\n"
    "parts of 8 MiB (more for files past 80 GB). Network errors and server\n"
    "errors (5xx, 429, 400 RequestTimeout) and requests that move no byte for\n"
    "60 s are tried again twice; a multipart upload that fails is aborted. A\n"
    "completion whose answer was lost counts as done when the object is there\n"
    "with the expected size and entity tag.\n"
    "\n"
    "Standard output, one message per line:\n"
    "  PROGRESS <percent> <sent bytes>/<total bytes>   at most every 200 ms\n"
    "  RESULT SUCCESS\n"
    "  RESULT <status> <message>   status: ARGUMENT_ERROR, FILE_ERROR,\n"
    "                              HTTP_ERROR or NETWORK_ERROR\n"
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
    S3Upload upload(UploadJob::fromJson(job), messages);
    return ToolMain::runToCompletion(app, upload);
}
