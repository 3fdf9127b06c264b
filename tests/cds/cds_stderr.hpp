// Catching what the CDS code writes to standard error (cds_log) during a
// test: standard error goes to a file of the test's scratch directory while
// the object lives.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cds_client/cds_test_support.hpp"

namespace cds_test {

class StderrCapture {
  public:
    // The captured bytes as written: no line-end translation where the C
    // runtime has one.
#if defined(O_BINARY)
    static constexpr int kBinary = O_BINARY;
#else
    static constexpr int kBinary = 0;
#endif

    explicit StderrCapture(const std::string &file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd =
            ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | kBinary, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // The lines written so far, without their line feeds.
    std::vector<std::string> lines() const {
        std::fflush(stderr);
        std::vector<std::string> lines;
        std::istringstream stream(read_file(file_));
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }

  private:
    std::string file_;
    int saved_ = -1;
};

}  // namespace cds_test
