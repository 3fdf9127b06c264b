// Shared pieces of the Kes file and directory operations: filling a status,
// the offset of error numbers from the calls that stand in for the original
// system's own file and directory calls, an owning file descriptor, and the
// retry of calls interrupted by a signal.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "kes/kes_status.h"

namespace korvo::kes {

// Statuses of calls that replaced the original system's file and directory
// calls carry errno + 200; those of C library calls carry errno itself.
inline constexpr int32_t kSystemErrorBase = 200;

inline KesStatus *FillStatus(KesStatus *status, int32_t code, int32_t osError, int32_t step) {
    *status = KesStatus{code, osError, step};
    return status;
}

inline KesStatus *SystemError(KesStatus *status, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, errno, step);
}

inline KesStatus *StandInError(KesStatus *status, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + errno, step);
}

// Runs a system call again while a signal interrupts it.
template <typename Call>
auto RetryInterrupted(Call call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

// An owned descriptor, closed when the owner goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            const int saved = errno;  // a close on cleanup must not hide the error reported
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

}  // namespace korvo::kes
