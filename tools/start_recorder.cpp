// Stand-in for programs the updater starts but that cannot exist here (the
// client's tray program, an installer, "taskkill" in tests). Copied under the
// name it stands in for, it appends one line per start to "<own name>.record"
// beside its own executable: the start time in milliseconds since the epoch,
// the working directory and every argument, separated by tabs. With the
// environment variable START_RECORDER_HOLD_MS set it then stays alive that long,
// as a running program would. With START_RECORDER_ENVIRONMENT set it first
// writes its environment, one variable a line, to "<own name>.environment".

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace {

std::string ownPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

bool writeFile(const std::string& path, int flags, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0) return false;
    const ssize_t written = write(fd, content.data(), content.size());
    close(fd);
    return written == static_cast<ssize_t>(content.size());
}

}  // namespace

int main(int argc, char* argv[]) {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    char cwd[PATH_MAX];
    std::string line = std::to_string(now) + "\t" + (getcwd(cwd, sizeof(cwd)) ? cwd : "?");
    for (int i = 1; i < argc; ++i) line += std::string("\t") + argv[i];
    line += "\n";

    // Written before the start is recorded, so that it is complete once the
    // record shows the start.
    if (std::getenv("START_RECORDER_ENVIRONMENT")) {
        std::string variables;
        for (char** variable = environ; *variable; ++variable) {
            variables += std::string(*variable) + "\n";
        }
        if (!writeFile(ownPath() + ".environment", O_TRUNC, variables)) return 1;
    }

    // One write to a file opened for appending, so that concurrent starts never
    // interleave within a line.
    const bool recorded = writeFile(ownPath() + ".record", O_APPEND, line);

    if (const char* hold = std::getenv("START_RECORDER_HOLD_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(hold)));
    }
    return recorded ? 0 : 1;
}
