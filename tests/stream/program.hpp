// A program of the project run by a test: its standard output read line by
// line with bounded waits, its end waited for within a bound, and killed if
// it is still running when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/kes/kes_test_process.hpp"

namespace stream_test {

class Program {
  public:
    explicit Program(const std::vector<std::string> &argv) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            std::abort();
        pid_ = ::fork();
        if (pid_ < 0)
            std::abort();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            std::vector<char *> args;
            for (const std::string &arg : argv)
                args.push_back(const_cast<char *>(arg.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    pid_t pid() const { return pid_; }
    int output() const { return out_; }

    // Reads what is there without waiting; false at the end of the output.
    bool pump() {
        char chunk[4096];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n > 0)
            buffered_.append(chunk, static_cast<std::size_t>(n));
        return n > 0;
    }
    // The next whole line (without its line feed); "" at the end of the
    // output or when none came within the bounded wait.
    std::string line() {
        for (;;) {
            const std::size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            pollfd ready{out_, POLLIN, 0};
            if (::poll(&ready, 1, korvo::test::kWaitMilliseconds) != 1 || !pump())
                return "";
        }
    }
    // Every line until the end of the output.
    std::vector<std::string> lines() {
        std::vector<std::string> all;
        for (std::string next = line(); !next.empty(); next = line())
            all.push_back(next);
        return all;
    }
    // The exit status; 128 + the signal that ended it; -1 when it did not
    // end within the bounded wait.
    int wait() { return korvo::test::wait_for_exit(pid_); }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

}  // namespace stream_test
