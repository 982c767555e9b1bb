// The S3 store's answers as the upload tool reads them: error documents, and
// the elements it looks for in the others.

#include "fuzz_input.h"
#include "s3_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QString code;
    QString message;
    if (!S3Answer::readError(body, code, message)) FUZZ_CHECK(code.isNull() && message.isNull());
    S3Answer::elementText(body, "UploadId");
    S3Answer::elementText(body, "ETag");
    return 0;
}
