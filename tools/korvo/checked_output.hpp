// Standard output that keeps the first write error: a full disk or a broken
// pipe behind it must fail the command, with the reason, instead of leaving
// a cut listing that a script takes for a whole one. While it lives,
// std::cout writes through it (buffered; at each line end on a terminal).
//
// Threads: main thread (std::cout).
#pragma once

#include <array>
#include <streambuf>

namespace korvo::cli {

class CheckedOutput : public std::streambuf {
  public:
    explicit CheckedOutput(int fd);
    ~CheckedOutput() override;
    CheckedOutput(const CheckedOutput &) = delete;
    CheckedOutput &operator=(const CheckedOutput &) = delete;

    // Writes what is buffered; 0, or the errno value of the first write
    // that failed (everything after it was dropped).
    int finish();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *text, std::streamsize count) override;
    int sync() override;

  private:
    void drain();

    int fd_;
    bool terminal_;
    int error_ = 0;
    std::streambuf *previous_;
    std::array<char, 16384> buffer_{};
};

}  // namespace korvo::cli
