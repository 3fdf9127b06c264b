// SHA-256 over bytes that come in pieces: the digest with which the client
// checks a package against what its server stated, and the hash that names
// a server's part of the cache. Values only; one object per thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cdsclient {

class Sha256 {
  public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void update(const void *data, size_t size);
    // The digest of everything given so far; the object is spent after it.
    Digest finish();

    static Digest of(std::string_view bytes) {
        Sha256 hash;
        hash.update(bytes.data(), bytes.size());
        return hash.finish();
    }

  private:
    void block(const uint8_t *data);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pending_size_ = 0;
    uint64_t total_ = 0;
};

// Lower-case hexadecimal text of `digest`.
std::string hex_text(const Sha256::Digest &digest);

}  // namespace cdsclient
