// Test stand-in for the Windows "taskkill" tool, for the arguments the updater
// gives it: taskkill /f /im NAME. NAME is matched, case-insensitively and with
// "*" standing for any run of characters, against the file name of each running
// process's executable, and every match is ended at once, except this process
// and its parent. Linux has no such tool, and Wine's matches no wildcards.

#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "taskkill_processes.h"

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

std::vector<TaskkillProcesses::Process> findProcesses(const std::string& pattern) {
    std::vector<TaskkillProcesses::Process> matches;
    const std::string wanted = lower(pattern);
    for (const TaskkillProcesses::Process& process : TaskkillProcesses::others()) {
        if (!process.name.empty() && wildcardMatch(wanted, lower(process.name))) {
            matches.push_back(process);
        }
    }
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
        const std::vector<TaskkillProcesses::Process> matches = findProcesses(pattern);
        if (matches.empty()) {
            std::cout << "ERROR: The process \"" << pattern << "\" not found." << std::endl;
            status = 128;
            continue;
        }
        for (const TaskkillProcesses::Process& match : matches) {
            std::string error;
            if (TaskkillProcesses::end(match.pid, error)) {
                std::cout << "SUCCESS: The process \"" << match.name << "\" with PID " << match.pid
                          << " has been terminated." << std::endl;
            } else {
                std::cout << "ERROR: The process \"" << match.name << "\" with PID " << match.pid
                          << " could not be terminated: " << error << std::endl;
                status = 1;
            }
        }
    }
    return status;
}
