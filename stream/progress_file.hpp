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
// last save wins; so is one with a second name (a hard link made
// elsewhere would see every save) and one whose size changed under us.
//
// A save the caller makes (mstat_save) looks at the file every time. A
// stream's checkpoints come every few microseconds, and looking costs as
// much as half the write, so a checkpoint looks only when another record of
// this process has replaced or renamed a progress file since its last look,
// or when that look is kRecheckInterval old: a change another program makes
// is repaired by the first checkpoint after that interval. Until then the
// checkpoints go to the file the record holds; each is still one whole
// write, so what lies at the path is always some whole record (the other
// program's, or ours cut or lengthened by it for at most that interval).
// mstat_done gives the finished name a file of its own
// (give_finished_file), so that a record holding the file open never
// rewrites the finished file: its file then has no name, and its next save
// lands at its own path.
//
// One record, one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "stream/mstat.h"

namespace korvo::stream {

// Zero-filled is closed (records are allocated with mg_calloc).
struct ProgressFile {
    bool open;  // `fd` holds the record's file
    int32_t fd;
    uint32_t size;          // the bytes the file holds
    bool renamed;           // replaced since the last sync: the directory needs one too
    int64_t lookedAt;       // steady-clock nanoseconds of the last look at the file
    uint64_t replacements;  // the process's count of replacements at that look
};

// How old a checkpoint's last look at its file may be.
inline constexpr std::chrono::milliseconds kRecheckInterval{1};

enum class FileLook {
    kEverySave,  // look at the file before this write
    kWhenDue,    // a checkpoint: look only when due (see above)
};

// Rewrites the whole file in place with the `length` bytes when that is
// safe: the file is open, at most a page, and still has one name (its own,
// `path`) and `length` bytes, which one statx asking for nothing else tells
// (on Windows, where a replaced file keeps a name while held, the path is
// asked too). With FileLook::kWhenDue the last such look stands for this
// one while it is due neither by time nor by a replacement. False when the
// caller must replace the file instead.
bool rewrite_in_place(ProgressFile &file, const char *path, const uint8_t *bytes, uint32_t length,
                      FileLook look);

// Counts a replacement, removal or rename of a progress file by this
// process, after which every record's next checkpoint looks at its file.
void note_replacement();

// The largest record rewritten in place: a page.
uint32_t in_place_limit();

// After the file at `path` was replaced by `length` bytes: holds the new
// file open for later saves (nothing when it cannot be opened).
void hold_replaced(ProgressFile &file, const char *path, uint32_t length);

void close_progress_file(ProgressFile &file);

// Before a save replaces the file: where the host cannot rename over a file
// that is held open in one step (Windows moves the held file aside first,
// which leaves a moment in which the path names nothing), the record lets
// go of its own file, so that a process killed during the save leaves the
// old file or the new one. Nothing on POSIX hosts.
void release_before_replace(ProgressFile &file);

// Makes the held file's bytes durable (fsync), and its name too: the
// directory `dir` is synced after a save that replaced the file. False when
// no file is held or a sync fails.
bool sync_progress_file(ProgressFile &file, const char *dir);

// sync_progress_file for the record's file (mstat.cc keeps it).
bool sync_record(mstat *record);

// Puts `digits` under `key` (the record's count, "c_len") and saves the
// record, as mstat_save does. A record whose list changed only in that
// count since the last save_count, and whose count keeps its number of
// digits, is saved without encoding it again: the digits are patched into
// the kept bytes, which are written over the file in place. 0, or -1 when
// the path cannot be built; raises as mstat_save.
int32_t save_count(mstat *record, const char *key, std::string_view digits);

// Sets the boolean `key` to `value` and saves the record, when the list is
// still the one the last save_count encoded and its file can be rewritten
// in place: the flag's byte is patched into the kept bytes, and the file
// is looked at first, as mstat_save does. False when the caller must put
// the flag and save the record itself (nothing was written then, though
// the list may already hold the value).
bool save_flag_in_place(mstat *record, const char *key, bool value);

// After the rename to the finished name `path`: replaces the file there by
// a new one holding the same bytes, so that records holding the renamed
// file open (other records of the distribution, here or in other
// processes) hold a file without a name. Records over in_place_limit() are
// never rewritten in place and are left alone; failures change nothing.
void give_finished_file(const char *path);

}  // namespace korvo::stream
