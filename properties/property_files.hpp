// Internal to the library: saving a property list in the bare layout by
// replacing the file atomically, for records that must survive a crash at
// any moment (progress records).
#pragma once

#include "properties/korvo_types.h"

namespace korvo::props {

// Writes the encoded list to a new temporary file beside `path` (named
// ".<file name>.XXXXXX.tmp", permission bits 0600) and renames it over
// `path`, so that a process killed at any moment leaves either the previous
// file or the new one, whole. Nothing is flushed to the disk: the point is
// surviving the process, not the machine. Raises message 34 when the list
// cannot be encoded, 12 (path, errno) when the temporary file cannot be
// created or renamed, 21 (path, length) when it cannot be written; the
// temporary file is removed on every failure.
void save_without_len_replacing(const Properties *list, const char *path);

}  // namespace korvo::props
