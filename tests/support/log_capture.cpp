#include "log_capture.h"

#include <utility>

namespace TestSupport {

LogCapture::LogCapture() { google::AddLogSink(this); }

LogCapture::~LogCapture() { google::RemoveLogSink(this); }

void LogCapture::send(google::LogSeverity severity, const char*, const char*, int,
                      const google::LogMessageTime&, const char* message, size_t messageLength) {
    std::lock_guard<std::mutex> lock(mutex);
    collected.push_back({severity, std::string(message, messageLength)});
}

std::vector<LogCapture::Line> LogCapture::lines() {
    std::lock_guard<std::mutex> lock(mutex);
    return collected;
}

std::vector<LogCapture::Line> LogCapture::take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(collected, {});
}

std::vector<std::string> LogCapture::messages(google::LogSeverity severity) {
    std::vector<std::string> found;
    for (const Line& line : lines()) {
        if (line.severity == severity) found.push_back(line.message);
    }
    return found;
}

std::string LogCapture::text(google::LogSeverity severity) {
    std::string joined;
    for (const std::string& message : messages(severity)) joined.append(message).append("\n");
    return joined;
}

void PrintTo(const LogCapture::Line& line, std::ostream* os) {
    *os << "{" << line.severity << ", \"" << line.message << "\"}";
}

}  // namespace TestSupport
