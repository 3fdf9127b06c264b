// SHA-256 digests of received segments. A segment whose "checksum" holds 32
// bytes carries the SHA-256 of its data (korvo_gateway --make-toc writes
// it); the receive hashes each such segment as its bytes arrive, after the
// bytes an earlier run left on disk, and compares once the last byte is in.
//
// Ownership: a Sha256 owns its OpenSSL context.
// Threads: one object per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvo::cli {

inline constexpr size_t kSha256Bytes = 32;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256 &&) noexcept;
    Sha256 &operator=(Sha256 &&) noexcept;
    void update(const void *data, size_t length);
    // Hashes the first `length` bytes of the file open at `fd` (pread, so
    // the descriptor's position is not used). False when fewer could be
    // read.
    bool update_from(int fd, uint64_t length);
    std::vector<uint8_t> finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// Lower-case hexadecimal.
std::string hex_text(const std::vector<uint8_t> &bytes);

}  // namespace korvo::cli

#include <optional>

#include "distribution_toc.hpp"
#include "receive_outputs.hpp"
#include "receive_reader.hpp"

namespace korvo::cli {

// The digests of one receive: every segment whose "checksum" is 32 bytes
// long is hashed, from the bytes on disk that count as received and then
// from what arrives, and compared once it is complete.
class SegmentDigests {
  public:
    explicit SegmentDigests(const DistributionToc &toc);
    // Hashes what each checksummed segment's output holds already (call
    // once the outputs are open and cut).
    void start(const std::vector<SegmentState> &segments, OutputFiles &outputs);
    void bytes(uint32_t i, const char *data, size_t length);
    // Compares every complete segment that carries a digest. The segments
    // that do not match, in TOC order.
    struct Mismatch {
        uint32_t segment;
        std::string expected, got;
    };
    std::vector<Mismatch> finish(const std::vector<SegmentState> &segments);
    // Segments whose digest matched.
    uint32_t verified() const { return verified_; }

  private:
    std::vector<std::optional<std::vector<uint8_t>>> expected_;
    std::vector<std::optional<Sha256>> running_;
    std::vector<bool> unreadable_;
    uint32_t verified_ = 0;
};

}  // namespace korvo::cli
