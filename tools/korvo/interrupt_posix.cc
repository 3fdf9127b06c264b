#include "interrupt.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "exit_codes.hpp"

namespace korvo::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> arrived{0};
const char *notice_text = InterruptScope::kStopNotice;
size_t notice_length = 0;
struct sigaction previous[sizeof kSignals / sizeof kSignals[0]];

void on_signal(int number) {
    int expected = 0;
    if (!arrived.compare_exchange_strong(expected, number)) {
        // The second signal: do what it would have done without us.
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    // Only async-signal-safe calls here: three writes.
    ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
    ignored = ::write(STDERR_FILENO, notice_text, notice_length);
    ignored = ::write(STDERR_FILENO, "\n", 1);
    (void)ignored;
}

}  // namespace

InterruptScope::InterruptScope(const char *notice) {
    arrived = 0;
    notice_text = notice;
    notice_length = std::strlen(notice);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;  // the work's own system calls go on
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &action, &previous[i]);
}

InterruptScope::~InterruptScope() {
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &previous[i], nullptr);
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
