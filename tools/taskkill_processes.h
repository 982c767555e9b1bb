#pragma once

// The process table as the taskkill stand-in needs it, one file per platform.

#include <string>
#include <vector>

namespace TaskkillProcesses {

struct Process {
    long pid;
    std::string name;  // the executable's file name, UTF-8; "" when unreadable
};

// Every running process except this one and its parent.
std::vector<Process> others();

// Ends the process at once; on failure writes the system's reason to `error`.
bool end(long pid, std::string& error);

}  // namespace TaskkillProcesses
