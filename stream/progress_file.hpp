// The descriptor a progress record keeps on its file, so that a save whose
// encoded record has the size of the file's is one positioned write
// instead of a new file renamed into place.
//
// A write that stays within the first page of a file reaches the page cache
// in one piece: a process killed during it leaves the old bytes or the new
// ones, never a mix. Records up to a page long are therefore rewritten in
// place when their size is unchanged; every other save replaces the file
// atomically and opens the new one. A file that the record's path no longer
// names (another writer replaced it, or another record of the distribution
// renamed it to its finished name) is replaced at the path, so a save
// always lands at the record's own path and the last save wins.
//
// One record, one thread.
#pragma once

#include <cstdint>

#include "stream/mstat.h"

namespace korvo::stream {

struct ProgressFile {
    bool open;  // `fd` holds the record's file
    int32_t fd;
    uint32_t size;  // the bytes the file holds
    // The file's identity, to tell that the record's path still names it.
    uint64_t device;
    uint64_t inode;
    bool renamed;  // replaced since the last sync: the directory needs one too
};

// Rewrites the whole file in place with the `length` bytes when that is
// safe: the file is open, `path` still names it (not a file that another
// record renamed away, replaced, or a link put in its place), it holds
// `length` bytes, at most a page. False when the caller must replace the
// file at `path` instead.
bool rewrite_in_place(ProgressFile &file, const char *path, const uint8_t *bytes, uint32_t length);

// After the file at `path` was replaced by `length` bytes: holds the new
// file open for later saves (nothing when it cannot be opened).
void hold_replaced(ProgressFile &file, const char *path, uint32_t length);

void close_progress_file(ProgressFile &file);

// Makes the held file's bytes durable (fsync), and its name too: the
// directory `dir` is synced after a save that replaced the file. False when
// no file is held or a sync fails.
bool sync_progress_file(ProgressFile &file, const char *dir);

// sync_progress_file for the record's file (mstat.cc keeps it).
bool sync_record(mstat *record);

}  // namespace korvo::stream
