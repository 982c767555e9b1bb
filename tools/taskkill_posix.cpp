#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "taskkill_processes.h"

namespace TaskkillProcesses {
namespace {

// The file name of the process's executable (not the kernel's 15-character
// name), or "" when it cannot be read (a kernel thread, another user's
// process, a process that has just ended).
std::string executableName(const std::string& pid) {
    char target[4096];
    const std::string link = "/proc/" + pid + "/exe";
    const ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
    if (length <= 0) return "";
    std::string path(target, static_cast<size_t>(length));
    // An executable replaced or removed while running keeps its old name.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        path.resize(path.size() - deleted.size());
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<Process> others() {
    std::vector<Process> processes;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return processes;
    const pid_t self = getpid();
    const pid_t parent = getppid();
    while (dirent* entry = readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == self || pid == parent) continue;
        processes.push_back({pid, executableName(name)});
    }
    closedir(proc);
    return processes;
}

// A signal is delivered later than kill() returns: until the process has let
// go of its executable, a program ended here would still count as running. So,
// as Windows' own tool returns once the process is ended, this waits (at most
// five seconds) until the executable is no longer the process's.
bool end(long pid, std::string& error) {
    if (kill(static_cast<pid_t>(pid), SIGKILL) != 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string name = std::to_string(pid);
    for (int i = 0; i < 1000 && !executableName(name).empty(); ++i) usleep(5000);
    return true;
}

}  // namespace TaskkillProcesses
