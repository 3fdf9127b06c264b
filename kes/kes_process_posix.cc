// The process id the names of temporary files carry, and whether another
// process still runs, on a POSIX host (see kes_file_guard.hpp).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "kes/kes_file_guard.hpp"

namespace korvo::kes {
namespace {

std::atomic<pid_t> cachedProcessId{0};

void ForgetProcessId() {
    cachedProcessId.store(0, std::memory_order_relaxed);
}

}  // namespace

pid_t ProcessId() {
    pid_t pid = cachedProcessId.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = ::pthread_atfork(nullptr, nullptr, ForgetProcessId);
        static_cast<void>(registered);
        pid = ::getpid();
        cachedProcessId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

bool ProcessEnded(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace korvo::kes
