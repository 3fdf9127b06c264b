// Whether the cache's copy of a package may be answered "already there":
// its record reads well, its file is whole (size, inode), the server still
// has that package for these credentials (a HEAD request with the copy's
// validators, If-None-Match and If-Modified-Since, answered 304 or with the
// same validator) and, when the server stated a digest, the file's bytes
// have that digest. A copy that fails is removed, so that a new download
// starts clean and a failed one leaves no stale file in the package's place.
// Runs on the caller's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cds/client/cache_root.hpp"

namespace cdsclient {

struct Confirmation {
    int32_t code = 0;   // CDS_OK, or the failure that ends DownloadFile
    bool held = false;  // with CDS_OK: the copy is answered; else fetch it
};

Confirmation confirm_cached(const CacheRoot &root, std::string_view id, const std::string &url,
                            const char *user_name, const char *password, long seconds);

}  // namespace cdsclient
