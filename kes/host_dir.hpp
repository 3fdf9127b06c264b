// Listing a directory through the host: the names it holds, one at a time,
// in the order the host gives them ("." and ".." included where the host
// lists them).
//
// OpenDirectoryStream returns a stream the caller owns and ends with
// CloseDirectoryStream. A stream is used by one thread at a time.
#pragma once

#include <cstddef>

namespace korvo::host {

struct DirectoryStream;

// Opens the listing of `path`; NULL with errno set.
DirectoryStream *OpenDirectoryStream(const char *path) noexcept;

// Copies the next name into `name` (`size` bytes; a longer name is cut and
// stays terminated): 1 for a name, 0 at the end, -1 with errno set.
int ReadDirectoryStream(DirectoryStream *stream, char *name, std::size_t size) noexcept;

// Ends the listing; NULL is ignored.
void CloseDirectoryStream(DirectoryStream *stream) noexcept;

}  // namespace korvo::host
