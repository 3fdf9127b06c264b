// SHA-256 digests of received segments. A segment whose "checksum" holds 32
// bytes carries the SHA-256 of its data (korvo_gateway --make-toc writes
// it); the receive hashes each such segment's output, the bytes an earlier
// run left on disk included, and compares once the last byte is in.
//
// The digests are Sha256's (sha256.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sha256.hpp"

namespace korvo::cli {

// Lower-case hexadecimal.
std::string hex_text(const std::vector<uint8_t> &bytes);

}  // namespace korvo::cli

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "distribution_toc.hpp"
#include "receive_outputs.hpp"
#include "receive_reader.hpp"

namespace korvo::cli {

// The digests of one receive: every segment whose "checksum" is 32 bytes
// long is hashed from its output file, by a thread of its own that reads
// (pread, from the page cache) what the receive has written so far, the
// bytes an earlier run left first; so the digest is that of the bytes on
// disk, and hashing runs beside the receive instead of after it. Compared
// once the segment is complete.
//
// Threads: the receive's thread calls every member; the hashing thread is
// the object's own and ends with finish() or the destructor.
class SegmentDigests {
  public:
    explicit SegmentDigests(const DistributionToc &toc);
    ~SegmentDigests();
    SegmentDigests(const SegmentDigests &) = delete;
    SegmentDigests &operator=(const SegmentDigests &) = delete;

    // Starts hashing what each checksummed segment's output holds (call
    // once the outputs are open and cut; they must stay open until
    // finish()).
    void start(const std::vector<SegmentState> &segments, const OutputFiles &outputs);
    // Segment i's output now holds `written` bytes.
    void written(uint32_t i, uint64_t written);
    // Waits for the hashing to reach what was written and compares every
    // complete segment that carries a digest. The segments that do not
    // match, in TOC order.
    struct Mismatch {
        uint32_t segment;
        std::string expected, got;
    };
    std::vector<Mismatch> finish(const std::vector<SegmentState> &segments);
    // Segments whose digest matched.
    uint32_t verified() const { return verified_; }

  private:
    struct Work {
        std::optional<std::vector<uint8_t>> expected;
        std::optional<Sha256> running;
        int fd = -1;
        uint64_t written = 0;  // guarded by mutex_
        uint64_t hashed = 0;   // the hashing thread's
        bool unreadable = false;
    };
    void hash_loop();
    void stop();

    std::vector<Work> work_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finishing_ = false;
    bool waiting_ = false;  // the hashing thread waits for `changed_`
    std::thread thread_;
    uint32_t verified_ = 0;
};

}  // namespace korvo::cli
