#include <windows.h>

#include <atomic>
#include <cstring>

#include "exit_codes.hpp"
#include "interrupt.hpp"

namespace korvo::cli {
namespace {

// Console events arrive on a thread of their own; they are reported as the
// signal a POSIX shell would send for them, so exit codes agree.
constexpr int kSigInt = 2;
constexpr int kSigHup = 1;
constexpr int kSigTerm = 15;

std::atomic<int> arrived{0};
const char *notice_text = InterruptScope::kStopNotice;

int signal_of(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return kSigInt;
        case CTRL_BREAK_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return kSigTerm;
        case CTRL_CLOSE_EVENT:
            return kSigHup;
        default:
            return 0;
    }
}

BOOL WINAPI on_event(DWORD event) {
    const int number = signal_of(event);
    if (number == 0)
        return FALSE;
    int expected = 0;
    if (!arrived.compare_exchange_strong(expected, number))
        return FALSE;  // the second event: the default handler ends the process
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(error, "\n", 1, &written, nullptr);
    WriteFile(error, notice_text, static_cast<DWORD>(std::strlen(notice_text)), &written, nullptr);
    WriteFile(error, "\n", 1, &written, nullptr);
    // A close, log-off or shutdown ends the process once this returns; the
    // others let the work stop at its safe point.
    return TRUE;
}

}  // namespace

InterruptScope::InterruptScope(const char *notice) {
    arrived = 0;
    notice_text = notice;
    SetConsoleCtrlHandler(on_event, TRUE);
}

InterruptScope::~InterruptScope() {
    SetConsoleCtrlHandler(on_event, FALSE);
}

bool InterruptScope::requested() {
    return arrived.load() != 0;
}

int InterruptScope::signal() {
    return arrived.load();
}

int InterruptScope::exit_code() {
    return kExitInterrupted + arrived.load();
}

}  // namespace korvo::cli
