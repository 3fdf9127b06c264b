// File-system steps the cache is built from, each safe in a directory that
// other programs may have written into: directories are created for the
// owner alone (0700) and accepted only when they are real directories of the
// calling account; files are opened without following links and without
// blocking on FIFOs; nothing is ever removed outside the directory named.
// Free functions on paths; any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace cdsclient {

// Creates `path` (0700; its parent exists) or accepts the real directory of
// this account already there, taking group and other rights away from it.
bool make_private_directory(const std::string &path);

// Opens the regular file `path` for reading, neither through a link nor
// waiting on a FIFO; -1 when it is anything else.
int open_regular(const std::string &path);

// Writes all of `data` to `fd`; false on a failure.
bool write_all(int fd, const char *data, size_t size);

// Reads the whole regular file `path` when it is at most `limit` bytes.
std::optional<std::string> read_small_file(const std::string &path, size_t limit);

// Writes `text` to a new file `path` (0600, created exclusively) and syncs it.
bool write_synced_file(const std::string &path, const std::string &text);

// Flushes the directory `path` itself, so that renames into it last.
void sync_directory(const std::string &path);

// Bytes an unprivileged writer may still put on the file system of `fd`.
std::optional<uint64_t> free_bytes(int fd);

// Removes the entries of the directory `path` (one level; a subdirectory is
// removed only when empty) and then the directory. A link in its place is
// removed, never followed.
void remove_directory(const std::string &path);

// Whether `path` is a regular file (links are not followed).
bool is_regular_file(const std::string &path);

}  // namespace cdsclient
