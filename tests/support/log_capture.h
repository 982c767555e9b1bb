#pragma once

#include <glog/logging.h>

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace TestSupport {

// Collects every glog message logged (from any thread) while it exists.
class LogCapture : public google::LogSink {
public:
    struct Line {
        google::LogSeverity severity;
        std::string message;
        bool operator==(const Line& other) const {
            return severity == other.severity && message == other.message;
        }
    };

    LogCapture();
    ~LogCapture() override;

    using google::LogSink::send;
    void send(google::LogSeverity severity, const char* fullFilename, const char* baseFilename,
              int line, const google::LogMessageTime& time, const char* message,
              size_t messageLength) override;

    std::vector<Line> lines();
    // The lines collected so far; the capture starts afresh.
    std::vector<Line> take();
    std::vector<std::string> messages(google::LogSeverity severity);
    // The messages of one severity, each followed by a line feed.
    std::string text(google::LogSeverity severity);

private:
    std::mutex mutex;
    std::vector<Line> collected;
};

void PrintTo(const LogCapture::Line& line, std::ostream* os);

}  // namespace TestSupport
