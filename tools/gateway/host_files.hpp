// The gateway peer's calls to the host for the files it serves and lists:
// opening a segment's file and reading it at an offset, the SHA-256 of a
// file, and a file's full path. A segment file is a number owned by whoever
// opened it and closed with close_segment_file. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvo::gateway {

// The characters that end a folder's name in a path on this host: '/', and
// on Windows '\\' and the ':' of a drive ("C:name").
#ifdef _WIN32
inline constexpr const char *kPathSeparators = "/\\:";
#else
inline constexpr const char *kPathSeparators = "/";
#endif

// The file at `path` opened for reading (binary, not inherited), or -1 with
// the host's reason in *error.
int open_segment_file(const std::string &path, std::string *error);
// Reads exactly `length` bytes at `offset`; false when the file is shorter
// or cannot be read.
bool read_segment_file(int file, uint8_t *data, std::size_t length, int64_t offset);
void close_segment_file(int file);

// The SHA-256 of the file at `path`, read whole; std::runtime_error when it
// cannot be read ("<path>: cannot be read") or the host has no SHA-256.
std::vector<uint8_t> file_sha256(const std::string &path);

// The absolute path of `path` (links resolved where the host has them), or
// "" when there is none.
std::string full_path(const std::string &path);

}  // namespace korvo::gateway
