#include <windows.h>

#include <tlhelp32.h>

#include "taskkill_processes.h"

namespace TaskkillProcesses {
namespace {

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

std::string lastErrorText() {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, GetLastError(), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = text ? utf8(text) : std::string("unknown error");
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    return result;
}

}  // namespace

std::vector<Process> others() {
    std::vector<Process> processes;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return processes;
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            continue;
        }
        processes.push_back({static_cast<long>(entry.th32ProcessID), utf8(entry.szExeFile)});
    }
    CloseHandle(snapshot);
    for (auto it = processes.begin(); it != processes.end(); ++it) {
        if (static_cast<DWORD>(it->pid) == parent) {
            processes.erase(it);
            break;
        }
    }
    return processes;
}

bool end(long pid, std::string& error) {
    const HANDLE process =
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    const bool ended = process != nullptr && TerminateProcess(process, 1);
    if (!ended) error = lastErrorText();
    // TerminateProcess only starts the end: a program ended here still holds
    // its executable for a moment.
    if (ended) WaitForSingleObject(process, 5000);
    if (process != nullptr) CloseHandle(process);
    return ended;
}

}  // namespace TaskkillProcesses
