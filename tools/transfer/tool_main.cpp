#include "tool_main.h"

#include <cstdio>

#include "argument_decoder.h"

namespace ToolMain {

bool readJob(const QStringList& arguments, const char* usage, MessageWriter& messages,
             QJsonObject& job, int& exitCode) {
    if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
        std::fputs(usage, stdout);
        exitCode = 0;
        return false;
    }
    exitCode = 2;
    if (arguments.size() != 2) {
        std::fputs(usage, stderr);
        messages.failure("ARGUMENT_ERROR", "需要且只需要一个参数");
        return false;
    }
    QString error;
    if (!ArgumentDecoder::decodeJob(arguments[1], job, error)) {
        messages.failure("ARGUMENT_ERROR", error);
        return false;
    }
    return true;
}

}  // namespace ToolMain
