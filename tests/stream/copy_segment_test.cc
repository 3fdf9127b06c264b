// The in-kernel copy of a file-list segment: it hands over exactly what the
// reads would have, checkpoints after each piece, leaves to the reads what
// the kernel refuses to copy (on POSIX hosts also a FIFO as the data file
// and an output opened for appending), and does not let a segment whose
// file changed under it pass as whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "stream/copy_segment.h"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace {

using props_test::raised_by;
using namespace stream_test;
using stream_test::Toc;

// Owns a descriptor the test opened; closes it when the test is done with it.
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

TEST_F(CopiedSegments, ASegmentIsCopiedAndCheckpointedPieceByPiece) {
    const size_t size = 2 * kPiece + 100000;
    const std::string a = file("a", size + 7, 1), b = file("b", 30000, 2);
    Toc toc({{"a", static_cast<int32_t>(size), 0, a}, {"b", 30000, 0, b}});
    Stream stream = open({a, b}, true, toc);
    UniqueFd out_a = output("out-a"), out_b = output("out-b");

    Pieces pieces{work, {}};
    const Step whole = read_and_copy(stream.get(), out_a.get(), 0, kAll, &Pieces::after, &pieces);
    EXPECT_TRUE(whole.copied);
    EXPECT_EQ(whole.in, int64_t(size));
    // Each checkpoint counts every piece in, the read's bytes with the first.
    const std::vector<std::pair<int64_t, std::string>> expected{
        {kPiece, std::to_string(kPiece)},
        {2 * kPiece, std::to_string(2 * kPiece)},
        {int64_t(size), std::to_string(size)}};
    EXPECT_EQ(pieces.seen, expected);
    // Nothing more to copy; the file's 7 bytes beyond its segment stay
    // unread, and the next read ends it.
    EXPECT_EQ(
        net_stream_copy_segment(stream.get(), out_a.get(), int64_t(size), kAll, nullptr, nullptr),
        0);
    EXPECT_EQ(read_into(stream.get(), out_a.get(), int64_t(size)), 0);
    EXPECT_EQ(contents(scratch / "out-a"), contents(a).substr(0, size));

    // A small segment: one piece.
    EXPECT_EQ(read_and_copy(stream.get(), out_b.get(), 0, kAll).in, 30000);
    EXPECT_EQ(read_into(stream.get(), out_b.get(), 30000), 0);
    EXPECT_EQ(contents(scratch / "out-b"), contents(b));
    stream.reset();
    EXPECT_EQ(stream_test::progress_of(work, "d")["c_len"], std::to_string(size + 30000));
}

// The caller's bound, and a stop from the caller, leave the reads to go on
// after the last byte copied; a resumed segment is copied from its offset.
TEST_F(CopiedSegments, ABoundOrAStopLeavesTheRestToTheReads) {
    const size_t size = 2 * kPiece + 50000;
    const int64_t offset = 12345;
    const std::string a = file("a", size, 3);
    Toc toc({{"a", static_cast<int32_t>(size), static_cast<int32_t>(offset), a}});
    Stream stream = open({a}, true, toc);
    UniqueFd out = output("out");

    // A bound below the read's bytes copies nothing.
    Step step = read_and_copy(stream.get(), out.get(), offset, 1000);
    EXPECT_FALSE(step.copied);
    int64_t at = offset + step.in;
    // A bound above them: they and 1000 more.
    step = read_and_copy(stream.get(), out.get(), at, 16384 + 1000);
    EXPECT_EQ(step.in, 16384 + 1000);
    at += step.in;
    // A stop after the first piece.
    const NetStreamCopyProgress stop = [](void *, int64_t) { return int32_t{1}; };
    step = read_and_copy(stream.get(), out.get(), at, kAll, stop, nullptr);
    EXPECT_EQ(step.in, kPiece);
    at += step.in;
    EXPECT_EQ(stream_test::progress_of(work, "d")["c_len"], std::to_string(at));
    EXPECT_EQ(read_rest(stream.get(), out.get(), at), int64_t(size) - at);
    EXPECT_EQ(contents(scratch / "out").substr(offset), contents(a).substr(offset));

    // Nothing to copy without a stream or before the first read.
    EXPECT_EQ(net_stream_copy_segment(nullptr, out.get(), 0, kAll, nullptr, nullptr), 0);
    Stream fresh = open({a}, false, toc);
    EXPECT_EQ(net_stream_copy_segment(fresh.get(), out.get(), 0, kAll, nullptr, nullptr), 0);
}

// The data file is rewritten in place, or cut, while its segment is being
// copied: the copy that ends the segment raises instead of handing the
// mixed bytes over as whole; a cut file ends the segment early as a read
// would.
TEST_F(CopiedSegments, AFileChangedUnderTheCopyIsNotHandedOverWhole) {
    const size_t size = 2 * kPiece + 4096;
    const std::string a = file("a", size, 6);
    struct Change {
        std::string path;
        bool cut;
        static int32_t after(void *context, int64_t copied) {
            const auto *change = static_cast<Change *>(context);
            if (copied != kPiece)
                return 0;
            {
                UniqueFd fd(::open(change->path.c_str(), kOutputFlags & ~O_CREAT));
                if (change->cut)
                    EXPECT_EQ(::ftruncate(fd.get(), kPiece + 100000), 0);
                else
                    EXPECT_EQ(write_at(fd.get(), "!", 1, 2 * kPiece), 1);
            }
            // Move the file's time clear of the first one, whatever the
            // clock's grain.
            EXPECT_TRUE(korvo::test::setModificationTime(change->path, ::time(nullptr) + 60, 0));
            return 0;
        }
    };

    Toc toc({{"a", static_cast<int32_t>(size), 0, a}});
    Stream stream = open({a}, true, toc);
    UniqueFd out = output("out");
    Change rewrite{a, false};
    const auto raised = raised_by(
        [&] { read_and_copy(stream.get(), out.get(), 0, kAll, &Change::after, &rewrite); });
    EXPECT_EQ(raised.text, "The file " + a + " changed while segment a^1 was copied from it.\n");

    write_file(a, pattern(size, 6));
    Stream cut = open({a}, false, toc);
    Change shorten{a, true};
    EXPECT_EQ(read_and_copy(cut.get(), out.get(), 0, kAll, &Change::after, &shorten).in,
              kPiece + 100000);
    EXPECT_EQ(raised_by([&] { read_into(cut.get(), out.get(), kPiece + 100000); }).text,
              "The file " + a + " ended at byte " + std::to_string(kPiece + 100000) + " of the " +
                  std::to_string(size) + " bytes of segment a^1.\n");
}

#if !defined(_WIN32)
// Windows has no FIFOs.
// A FIFO as the data file and an output opened for appending: the copy
// moves nothing and the reads deliver every byte, as without it.
TEST_F(CopiedSegments, WhatTheKernelWillNotCopyIsRead) {
    const std::string bytes = pattern(100000, 4);
    const std::string fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        UniqueFd in(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(in.get(), bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += static_cast<size_t>(n);
        }
    });
    Toc toc({{"p", 100000, 0, fifo}});
    Stream stream = open({fifo}, true, toc);
    UniqueFd out = output("out");
    const Step first = read_and_copy(stream.get(), out.get(), 0, kAll);
    EXPECT_FALSE(first.copied);
    EXPECT_EQ(read_rest(stream.get(), out.get(), first.in), 100000 - first.in);
    writer.join();
    EXPECT_EQ(contents(scratch / "out"), bytes);
    stream.reset();
    EXPECT_EQ(stream_test::progress_of(work, "d")["c_len"], "100000");

    const std::string a = file("a", 50000, 5);
    Toc plain({{"a", 50000, 0, a}});
    Stream again = open({a}, false, plain);
    UniqueFd appended = output("appended", O_APPEND);
    EXPECT_FALSE(read_and_copy(again.get(), appended.get(), 0, kAll).copied);
    EXPECT_EQ(read_rest(again.get(), appended.get(), 16384), 50000 - 16384);
    EXPECT_EQ(contents(scratch / "appended"), contents(a));
}
#endif

}  // namespace
