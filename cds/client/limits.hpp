// The bounds every download keeps, read from the environment at each
// DownloadFile: the largest package (4 GiB - 1, the most a size of 32 bits
// can state, or less with CDSCLIENT_SIZE_LIMIT), the bytes to leave free on
// the cache's file system (CDSCLIENT_KEEP_FREE, none by default), and the
// seconds DownloadFile waits for an answer (CDSCLIENT_ANSWER_TIMEOUT, 60).
// Values only; any thread.
#pragma once

#include <cstdint>

#include "cds/client/transfer.hpp"

namespace cdsclient {

inline constexpr uint64_t kLargestPackage = UINT32_MAX;

struct Limits {
    uint64_t largest = kLargestPackage;
    uint64_t keep_free = 0;
    long answer_seconds = 60;

    static Limits from_environment() {
        Limits limits;
        limits.largest =
            bytes_from_environment("CDSCLIENT_SIZE_LIMIT", kLargestPackage, kLargestPackage);
        limits.keep_free = bytes_from_environment("CDSCLIENT_KEEP_FREE", 0, UINT64_MAX);
        limits.answer_seconds = seconds_from_environment("CDSCLIENT_ANSWER_TIMEOUT", 60);
        return limits;
    }

    // Whether `more` bytes fit beside `free` bytes and still leave the
    // bytes to keep free.
    bool fits(uint64_t more, uint64_t free) const {
        return free >= keep_free && free - keep_free >= more;
    }
};

}  // namespace cdsclient
