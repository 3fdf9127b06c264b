// The packages of one cache root: whether the copy held of a package is
// whole (its file, size and digest as its check record says), keeping a
// downloaded package (synced, then renamed into the cache, then its record),
// and forgetting a copy. Any thread; several processes may use one root at
// once: a record names the inode of the file it was written for, so when two
// writers race, a record never vouches for the other writer's file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cds/client/cache_root.hpp"
#include "cds/client/check_record.hpp"

namespace cdsclient {

// The check record of `id`, when it is there and reads well.
std::optional<CheckRecord> read_check_record(const CacheRoot &root, std::string_view id);

// Whether the file of `id` is this account's regular file, of the record's
// inode and size, and (with `digest`) of the record's SHA-256.
bool package_matches(const CacheRoot &root, std::string_view id, const CheckRecord &record,
                     bool digest);

// Removes the copy of `id` and its record. False when something that is not
// a file (a directory, say) stands in the package's place and stays.
bool forget_package(const CacheRoot &root, std::string_view id);

// Syncs the whole body in `part` (open as `fd`), renames it into the cache
// as `id` and writes its record (through `scratch`, a file name in the same
// working directory). False when a step fails; the cache then holds no copy
// that would be answered.
bool keep_package(const CacheRoot &root, std::string_view id, int fd, const std::string &part,
                  CheckRecord record, const std::string &scratch);

}  // namespace cdsclient
