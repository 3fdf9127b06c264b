// Child processes, pipes and shared memory for tests that run several
// processes. Every wait is bounded, so a test that goes wrong fails instead of
// hanging, and every child arms its own watchdog.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>

namespace korvo::test {

inline constexpr int kWaitMilliseconds = 30000;

// Waits, within the bounded wait, for the child `pid` to end and reaps it:
// its exit status, 128 + the signal that ended it, or -1 when it did not end
// in time. `pid` becomes -1 once the child is reaped.
inline int wait_for_exit(pid_t &pid) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        const int ready = ::poll(&ended, 1, kWaitMilliseconds);
        ::close(pidfd);
        if (ready != 1)
            return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A pipe for ordering processes.
class Pipe {
  public:
    Pipe() {
        if (::pipe(fds_) != 0)
            std::abort();
    }
    ~Pipe() { closeRead(), closeWrite(); }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    void send(char byte = 'x') { static_cast<void>(::write(fds_[1], &byte, 1)); }
    // The next byte; -1 at the end of the pipe or when the wait times out.
    int receive(int milliseconds = kWaitMilliseconds) {
        pollfd ready{fds_[0], POLLIN, 0};
        char byte;
        if (::poll(&ready, 1, milliseconds) != 1 || ::read(fds_[0], &byte, 1) != 1)
            return -1;
        return static_cast<unsigned char>(byte);
    }
    int writeEnd() const { return fds_[1]; }
    void closeRead() { drop(fds_[0]); }
    void closeWrite() { drop(fds_[1]); }

  private:
    static void drop(int &fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

// A child process that runs `body` and leaves at once with its result (no
// exit handlers of the test program run in it); killed if still running when
// the object goes.
class Child {
  public:
    explicit Child(const std::function<int()> &body) : pid_(::fork()) {
        if (pid_ < 0)
            std::abort();
        if (pid_ == 0) {
            ::alarm(kWaitMilliseconds / 1000 + 5);
            ::_exit(run_body(body));
        }
    }
    ~Child() {
        if (pid_ > 0)
            kill(), ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // Exit status 125 for an exception that leaves `body`: it must not
    // unwind the frames of the test the child was forked from.
    static int run_body(const std::function<int()> &body) {
        try {
            return body();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "child process threw: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "child process threw\n");
        }
        return 125;
    }

    // The exit status; 128 + the signal that ended the child; -1 when it did
    // not end in time.
    int wait() { return wait_for_exit(pid_); }
    void kill() { ::kill(pid_, SIGKILL); }

  private:
    pid_t pid_;
};

// A value in memory that the children of this process share with it.
template <typename T>
class Shared {
  public:
    Shared()
        : value_(static_cast<T *>(::mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE,
                                         MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {
        if (value_ == MAP_FAILED)
            std::abort();
        new (value_) T();
    }
    ~Shared() { ::munmap(value_, sizeof(T)); }
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;
    T *operator->() { return value_; }
    T *get() { return value_; }

  private:
    T *value_;
};

}  // namespace korvo::test
