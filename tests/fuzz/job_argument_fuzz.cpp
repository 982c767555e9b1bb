// The transfer tools' job argument: any command-line text through the decoder
// and into the jobs' fields, and any text through the runners' encoding and
// back.

#include <QJsonObject>
#include <QUrl>

#include "argument_decoder.h"
#include "fuzz_input.h"
#include "s3_upload.h"
#include "utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));

    QJsonObject job;
    QString error;
    if (ArgumentDecoder::decodeJob(text, job, error)) {
        const UploadJob upload = UploadJob::fromJson(job);
        S3Target target;
        if (!S3Target::resolve(upload, target, error)) FUZZ_CHECK(!error.isEmpty());
        const QUrl url(job.value("url").toString(), QUrl::TolerantMode);
        url.host();
        job.value("save_filename").toString();
    } else {
        FUZZ_CHECK(!error.isEmpty());
    }

    // What a runner encodes, a tool decodes to the same bytes.
    QByteArray json;
    FUZZ_CHECK(ArgumentDecoder::decode(Utils::argCyclicShiftEncode(text), json, error));
    FUZZ_CHECK(json == text.toUtf8());
    return 0;
}
