// Stand-in for programs the updater starts but that cannot exist here (the
// client's tray program, an installer, "taskkill" in tests). Copied under the
// name it stands in for, it appends one line per start to "<own name>.record"
// beside its own executable: the start time in milliseconds since the epoch,
// the working directory and every argument, separated by tabs. With the
// environment variable START_RECORDER_HOLD_MS set it then stays alive that long,
// as a running program would.

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::string ownPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
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

    const std::string record = ownPath() + ".record";
    // One write to a file opened for appending, so that concurrent starts never
    // interleave within a line.
    const int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t written = write(fd, line.data(), line.size());
        close(fd);
        if (written != static_cast<ssize_t>(line.size())) return 1;
    }

    if (const char* hold = std::getenv("START_RECORDER_HOLD_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(hold)));
    }
    return fd >= 0 ? 0 : 1;
}
