// Linux stand-in for the Windows "taskkill" tool, for the arguments the updater
// gives it: taskkill /f /im NAME. NAME is matched, case-insensitively and with
// "*" standing for any run of characters, against the file name of each running
// process's executable (not the kernel's 15-character name), and every match is
// ended at once with SIGKILL, except this process and its parent.

#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

// "*" matches any run of characters, everything else itself.
bool wildcardMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// The file name of the process's executable, or "" when it cannot be read (a
// kernel thread, another user's process, a process that has just ended).
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

struct Match {
    pid_t pid;
    std::string name;
};

std::vector<Match> findProcesses(const std::string& pattern) {
    std::vector<Match> matches;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return matches;
    const pid_t self = getpid();
    const pid_t parent = getppid();
    const std::string wanted = lower(pattern);
    while (dirent* entry = readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == self || pid == parent) continue;
        const std::string executable = executableName(name);
        if (!executable.empty() && wildcardMatch(wanted, lower(executable))) {
            matches.push_back({pid, executable});
        }
    }
    closedir(proc);
    return matches;
}

int usage() {
    std::cerr << "ERROR: Invalid syntax. Usage: taskkill /f /im IMAGENAME" << std::endl;
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> patterns;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (equalsIgnoringCase(argument, "/f")) continue;  // every kill here is forced
        if (equalsIgnoringCase(argument, "/im")) {
            if (++i >= argc || argv[i][0] == '\0') return usage();
            patterns.push_back(argv[i]);
            continue;
        }
        return usage();
    }
    if (patterns.empty()) return usage();

    int status = 0;
    for (const std::string& pattern : patterns) {
        // Every match is found first and then ended, so that the kills happen at
        // once rather than one listing apart.
        const std::vector<Match> matches = findProcesses(pattern);
        if (matches.empty()) {
            std::cout << "ERROR: The process \"" << pattern << "\" not found." << std::endl;
            status = 128;
            continue;
        }
        for (const Match& match : matches) {
            if (kill(match.pid, SIGKILL) == 0) {
                std::cout << "SUCCESS: The process \"" << match.name << "\" with PID " << match.pid
                          << " has been terminated." << std::endl;
            } else {
                std::cout << "ERROR: The process \"" << match.name << "\" with PID " << match.pid
                          << " could not be terminated: " << std::strerror(errno) << std::endl;
                status = 1;
            }
        }
    }
    return status;
}
