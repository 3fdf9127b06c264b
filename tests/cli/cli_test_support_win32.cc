// The cli tests' host calls on Windows: processes found by their number
// through a snapshot of the process table and ended with TerminateProcess.
// There is no pseudo-terminal to run a program under, nor a device that
// fails writes as a full disk does.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <stdexcept>

#include "cli_test_support.hpp"

namespace cli_test {

bool runningChildOf(std::int64_t pid, std::int64_t parent) {
    if (pid <= 0)
        return false;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more && !found;
         more = ::Process32Next(snapshot, &entry))
        found = entry.th32ProcessID == static_cast<DWORD>(pid) &&
                entry.th32ParentProcessID == static_cast<DWORD>(parent);
    ::CloseHandle(snapshot);
    if (!found)
        return false;
    // Listed is not running: an ended process stays in the table while
    // handles to it are open.
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

bool killProcess(std::int64_t pid) {
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    const bool ended = ::TerminateProcess(process, static_cast<UINT>(korvo::test::kKilled)) != 0;
    ::CloseHandle(process);
    return ended;
}

std::string fullDevice() {
    return "";
}

bool terminalHost() {
    return false;
}

TerminalRun::TerminalRun(const std::vector<std::string> &, const Options &options, unsigned short)
    : options_(options) {
    throw std::runtime_error(
        "no pseudo-terminal on this host: the test must skip where "
        "terminalHost() is false");
}

TerminalRun::~TerminalRun() = default;

bool TerminalRun::catchesInterrupt(int) const {
    return false;
}

bool TerminalRun::interrupt() {
    return false;
}

Outcome TerminalRun::finish() {
    return Outcome{};
}

}  // namespace cli_test
