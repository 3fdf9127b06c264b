// The descriptor a progress record keeps on its file, so that a save whose
// encoded record has the size of the file's is one positioned write
// instead of a new file renamed into place.
//
// A write that stays within the first page of a file reaches the page cache
// in one piece: a process killed during it leaves the old bytes or the new
// ones, never a mix. Records up to a page long are therefore rewritten in
// place when their size is unchanged; every other save replaces the file
// atomically and opens the new one. A file that another writer replaced
// (the descriptor's file has no name any more) is replaced again, so the
// last save wins.
//
// One record, one thread.
#pragma once

#include <cstdint>

namespace korvo::stream {

struct ProgressFile {
    bool open;  // `fd` holds the record's file
    int32_t fd;
    uint32_t size;  // the bytes the file holds
};

// Rewrites the whole file in place with the `length` bytes when that is
// safe: the file is open, still named, of `length` bytes, at most a page.
// False when the caller must replace the file instead.
bool rewrite_in_place(ProgressFile &file, const uint8_t *bytes, uint32_t length);

// After the file at `path` was replaced by `length` bytes: holds the new
// file open for later saves (nothing when it cannot be opened).
void hold_replaced(ProgressFile &file, const char *path, uint32_t length);

void close_progress_file(ProgressFile &file);

}  // namespace korvo::stream
