// SHA-256 on the host's own implementation: OpenSSL's on Linux
// (sha256_posix.cc), bcrypt's on Windows (sha256_win32.cc).
//
// Ownership: a Sha256 owns its hashing context. Threads: one object per
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
    std::vector<uint8_t> finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace korvo::cli
