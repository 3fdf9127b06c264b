// Test support for the tests of a segment's in-kernel copy: outputs the
// test owns, and reads and copies that put what they hand over in place.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "stream/copy_segment.h"
#include "tests/stream/stream_test_support.hpp"

namespace copy_segment_test {

using stream_test::pattern;
using stream_test::write_file;

// Owns a descriptor the test opened; closes it when the test is done with it.
// (The library's own owner is internal to it and not exported.)
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};
// The flags of the test's own outputs: write-only, made when missing, not
// inherited, and binary on Windows (whose C runtime would otherwise turn
// each "\n" into "\r\n").
#ifdef _WIN32
inline constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_BINARY | O_NOINHERIT;
#else
inline constexpr int kOutputFlags = O_WRONLY | O_CREAT | O_CLOEXEC;
#endif

// Writes `n` bytes at `at` of `fd` without moving what others see of it:
// pwrite here, a seek and a write on Windows, whose C runtime has no pwrite.
inline int64_t write_at(int fd, const void *data, size_t n, int64_t at) {
#ifdef _WIN32
    if (_lseeki64(fd, at, SEEK_SET) != at)
        return -1;
    return _write(fd, data, static_cast<unsigned>(n));
#else
    return ::pwrite(fd, data, n, at);
#endif
}

inline constexpr int64_t kPiece = NET_STREAM_COPY_PIECE;
inline constexpr int64_t kAll = int64_t{1} << 40;  // no bound of the caller's

class CopiedSegments : public stream_test::StreamTest {
  protected:
    std::string file(const std::string &name, size_t size, unsigned seed) {
        const std::string path = scratch / name;
        write_file(path, pattern(size, seed));
        return path;
    }
    UniqueFd output(const std::string &name, int extra = 0) {
        return UniqueFd(::open((scratch / name).c_str(), kOutputFlags | extra, 0600));
    }
    // Reads once and writes what it got at `at` of `out`; the count.
    int32_t read_into(NetStream *stream, int out, int64_t at) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        if (n > 0) {
            EXPECT_EQ(write_at(out, data, static_cast<size_t>(n), at), n);
            net_stream_free_buffer(stream, data);
        }
        return n;
    }
    // Reads the rest of the current file into `out` from `at` on.
    int64_t read_rest(NetStream *stream, int out, int64_t at) {
        int32_t n = 0;
        int64_t got = 0;
        while ((n = read_into(stream, out, at + got)) > 0)
            got += n;
        return got;
    }
    // Reads once, then copies from that read's bytes on, placed at `at`;
    // the read's bytes are written here only when nothing was copied. The
    // bytes now in `out` from `at` on, and whether the copy took them.
    struct Step {
        int64_t in = 0;
        bool copied = false;
    };
    Step read_and_copy(NetStream *stream, int out, int64_t at, int64_t most,
                       NetStreamCopyProgress progress = nullptr, void *context = nullptr) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        if (n <= 0)
            return {n, false};
        // Freed also when the copy raises.
        const auto release = [stream](char *block) { net_stream_free_buffer(stream, block); };
        const std::unique_ptr<char, decltype(release)> owned(data, release);
        const int64_t copied = net_stream_copy_segment(stream, out, at, most, progress, context);
        if (copied == 0) {
            EXPECT_EQ(write_at(out, data, static_cast<size_t>(n), at), n);
        }
        return {copied == 0 ? n : copied, copied != 0};
    }
};

// What the progress record says after each piece, as the copy reports it.
struct Pieces {
    std::string work;
    std::vector<std::pair<int64_t, std::string>> seen;
    static int32_t after(void *context, int64_t copied) {
        auto *pieces = static_cast<Pieces *>(context);
        pieces->seen.emplace_back(copied, stream_test::progress_of(pieces->work, "d")["c_len"]);
        return 0;
    }
};

}  // namespace copy_segment_test
