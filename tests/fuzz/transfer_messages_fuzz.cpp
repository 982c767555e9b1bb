// The transfer tools' standard output as the upload and download runners read
// it, in any reads, then the verdict of the run.

#include <string>

#include "fuzz_input.h"
#include "tool_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray uploadOutput;
    QByteArray downloadOutput;
    QString uploadError;
    QString downloadError;
    const auto uploadProgress = [](int, const std::string& text) {
        FUZZ_CHECK(text.find(' ') == std::string::npos);
    };
    const auto downloadProgress = [](int, const std::string& first, const std::string& second) {
        FUZZ_CHECK(first.find(' ') == std::string::npos && second.find(' ') == std::string::npos);
    };
    for (const QByteArray& read : FuzzInput::reads(data, size)) {
        ToolRun::readUploadBlock(read, uploadOutput, uploadError, uploadProgress);
        ToolRun::readDownloadBlock(read, downloadOutput, downloadError, downloadProgress);
    }
    const bool uploaded = ToolRun::transferSucceeded(uploadOutput, "上传程序意外退出", uploadError);
    const bool downloaded =
        ToolRun::transferSucceeded(downloadOutput, "下载程序意外退出", downloadError);

    // Whatever the reads, "RESULT SUCCESS" in what the tool printed, and only
    // that, makes the run a success.
    const QByteArray all = FuzzInput::payload(data, size);
    FUZZ_CHECK(downloadOutput == all);
    FUZZ_CHECK(downloaded == all.contains("RESULT SUCCESS"));
    if (!all.contains('\0')) FUZZ_CHECK(uploaded == all.contains("RESULT SUCCESS"));
    return 0;
}
