#include <QCoreApplication>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

#include "argument_decoder.h"
#include "message_writer.h"
#include "s3_upload.h"

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
    "errors (5xx) are tried again twice; a multipart upload that fails is aborted.\n"
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

    S3Upload upload(UploadJob::fromJson(job), messages);
    QObject::connect(&upload, &S3Upload::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(0, &upload, &S3Upload::start);
    app.exec();
    return upload.succeeded() ? 0 : 1;
}
