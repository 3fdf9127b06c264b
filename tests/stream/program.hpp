// A program of the project run by a test: its standard output read line by
// line with bounded waits, its end waited for within a bound, and killed if
// it is still running when the object goes.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_process.hpp"

namespace stream_test {

class Program {
  public:
    explicit Program(const std::vector<std::string> &argv)
        : process_(std::make_unique<korvo::test::Child>(
              korvo::test::ProgramArgs{argv},
              korvo::test::ChildStart{.standardOutput = out_.writeEnd()})) {
        out_.closeWrite();
    }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // The read end of its output, for a test that waits on it with others.
    int output() const { return static_cast<int>(out_.readEnd().value); }

    // Reads what is there without waiting; false at the end of the output
    // (and when nothing is there yet).
    bool pump() {
        const std::string chunk = out_.receiveSome(0);
        buffered_ += chunk;
        return !chunk.empty();
    }
    // The next whole line (without its line feed); "" at the end of the
    // output or when none came within the bounded wait.
    std::string line() {
        for (;;) {
            const std::size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
#if defined(_WIN32)
                // A program whose standard output is in text mode ends its
                // lines with "\r\n" there.
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
#endif
                return line;
            }
            const std::string chunk = out_.receiveSome(korvo::test::kWaitMilliseconds);
            if (chunk.empty())
                return "";
            buffered_ += chunk;
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
    int wait() {
        return process_->wait();
    }

    // The gateway peer's transcript lines until the end of the output (a
    // method it started shares its output), those that begin with `prefix`.
    std::vector<std::string> lines_starting(const std::string &prefix = "gateway: ") {
        std::vector<std::string> kept;
        for (const std::string &next : lines())
            if (next.starts_with(prefix))
                kept.push_back(next);
        return kept;
    }

    // Whether `lines` hold `line`.
    static bool has(const std::vector<std::string> &lines, const std::string &line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

  private:
    korvo::test::Pipe out_;  // made before the process, which gets its write end
    std::unique_ptr<korvo::test::Child> process_;
    std::string buffered_;
};

}  // namespace stream_test
