// The owner of a host file descriptor, and the retry of system calls that a
// signal interrupted. An owner is used by one thread at a time.
#pragma once

#include <cerrno>
#include <utility>

#include "kes/host_file.hpp"

namespace korvo::kes {

// Runs a system call again while a signal interrupts it.
template <typename Call>
auto RetryInterrupted(Call call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

// An owned descriptor, closed when the owner goes. Closing on cleanup keeps
// errno, so that the error being reported survives the cleanup.
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
            const int saved = errno;
            host::CloseFile(fd_);
            errno = saved;
        }
        fd_ = fd;
    }
    // Closes the descriptor now and tells whether the close succeeded (a
    // write-back failure shows here).
    bool close() { return fd_ < 0 || host::CloseFile(std::exchange(fd_, -1)); }

  private:
    int fd_ = -1;
};

}  // namespace korvo::kes
