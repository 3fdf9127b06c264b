// What the client keeps beside each cached package to check it before it
// answers "already there": the package's size and the inode of its file (so
// that a record never vouches for another writer's file), the server's
// validators, and the SHA-256 digest when the server stated one. Its text:
//
//   korvo-cds-check 1
//   size <decimal>
//   inode <decimal>
//   etag <text>              (when given)
//   last-modified <text>     (when given)
//   sha256 <64 hex digits>   (when given)
//
// decode() reads such a text from the cache, which other programs can
// change: anything else (unknown lines, repeated lines, bad numbers, more
// than kMaxText bytes) gives nullopt. Values only; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cdsclient {

struct CheckRecord {
    uint64_t size = 0;
    uint64_t inode = 0;
    std::string etag;
    std::string last_modified;
    std::optional<std::array<uint8_t, 32>> sha256;

    static constexpr size_t kMaxText = 4096;

    std::string encode() const;
    static std::optional<CheckRecord> decode(std::string_view text);
    // Whether the server can confirm the package (it gave a validator).
    bool can_be_confirmed() const { return !etag.empty() || !last_modified.empty(); }
};

}  // namespace cdsclient
