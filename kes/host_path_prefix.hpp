// Whether a path lies below a directory, by the host's rules for telling
// paths apart (the depot asks it of its data files): the bytes on POSIX
// hosts; on Windows, where the file system ignores case and takes `\` and
// `/` alike, without regard to either. Nothing here keeps state; any thread
// may call.
#pragma once

#include <cstddef>

namespace korvo::host {

// True when `path` begins with the `length` first bytes of `dir` (UTF-8),
// compared as the host compares paths.
bool PathBeginsWith(const char *path, const char *dir, std::size_t length) noexcept;

}  // namespace korvo::host
