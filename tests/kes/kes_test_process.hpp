// Child processes, pipes and shared counters for tests that run several
// processes. Every wait is bounded: a test that goes wrong fails instead of
// hanging, and every child arms its own watchdog.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <stdexcept>

namespace korvo::test {

inline constexpr int kWaitMilliseconds = 30000;

// A pipe for ordering processes: one byte says "go".
class Pipe {
  public:
    Pipe() {
        if (::pipe(fds_) != 0)
            throw std::runtime_error("pipe");
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    void send(char byte = 'x') {
        if (::write(fds_[1], &byte, 1) != 1)
            throw std::runtime_error("pipe write");
    }
    // The next byte, or -1 when the writers are gone or the wait times out.
    int receive(int milliseconds = kWaitMilliseconds) {
        pollfd ready{fds_[0], POLLIN, 0};
        if (::poll(&ready, 1, milliseconds) != 1)
            return -1;
        char byte;
        return ::read(fds_[0], &byte, 1) == 1 ? static_cast<unsigned char>(byte) : -1;
    }
    int writeEnd() const { return fds_[1]; }
    void closeRead() { close(fds_[0]); }
    void closeWrite() { close(fds_[1]); }

  private:
    static void close(int &fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

// A child process that runs `body` and exits with its result, at once (no
// exit handlers of the test program run in it). A child still running when
// its object goes is killed.
class Child {
  public:
    explicit Child(const std::function<int()> &body) {
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::alarm(kWaitMilliseconds / 1000 + 5);
            ::_exit(body());
        }
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // The child's exit status; 128 + the signal when a signal ended it; -1
    // when it did not end in time (it is killed then).
    int wait() {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd >= 0) {
            pollfd ended{pidfd, POLLIN, 0};
            const int ready = ::poll(&ended, 1, kWaitMilliseconds);
            ::close(pidfd);
            if (ready != 1)
                return -1;  // the destructor kills it
        }
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    void kill() { ::kill(pid_, SIGKILL); }

  private:
    pid_t pid_ = -1;
};

// Counters in memory that the children of this process share with it.
template <typename T>
class SharedMemory {
  public:
    SharedMemory() {
        void *address =
            ::mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (address == MAP_FAILED)
            throw std::runtime_error("mmap");
        value_ = new (address) T();
    }
    ~SharedMemory() {
        value_->~T();
        ::munmap(value_, sizeof(T));
    }
    SharedMemory(const SharedMemory &) = delete;
    SharedMemory &operator=(const SharedMemory &) = delete;
    T *operator->() { return value_; }
    T &operator*() { return *value_; }

  private:
    T *value_;
};

}  // namespace korvo::test
