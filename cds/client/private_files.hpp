// File-system steps the cache is built from, each safe in a directory that
// other programs may have written into: directories are created for the
// owner alone (0700) and accepted only when they are real directories of the
// calling account; files are opened without following links and without
// blocking on FIFOs; nothing is ever removed outside the directory named.
// These are the client's host calls: private_files_posix.cc and
// private_files_win32.cc implement them; descriptors are the C runtime's
// on both hosts, opened in binary mode. Free functions on paths; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cds/client/descriptor.hpp"

namespace cdsclient {

// Creates `path` (0700; its parent exists) or accepts the real directory of
// this account already there, taking group and other rights away from it.
bool make_private_directory(const std::string &path);

// Creates `path` (0700; its parent exists); false when anything is there.
bool create_private_directory(const std::string &path);

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

// Whether nothing at all is at `path` (not even a dangling link).
bool path_missing(const std::string &path);

// Opens the regular file `path` (links followed) for an upload without
// waiting on a FIFO, and gives its size; -1 when it is anything else.
int open_upload_source(const char *path, uint64_t *size);

// Reads up to `size` bytes; the count read, 0 at the end, -1 on a failure.
int64_t read_some(int fd, char *buffer, size_t size);

// Creates the new file `path` for writing (0600, exclusively, never through
// a link); -1 when it cannot be made. The file can be renamed while open.
int create_private_file(const std::string &path);

// Starts writing `length` bytes from `offset` of `fd` to the disk without
// waiting for them.
void start_writeback(int fd, uint64_t offset, uint64_t length);

// Writes what `fd` holds to the disk and waits for it.
bool sync_file(int fd);

// What the cache's check records say of a file: whether this account owns
// it, the file system's identity of it and its size.
struct FileIdentity {
    bool ours = false;
    uint64_t id = 0;
    uint64_t size = 0;
};
std::optional<FileIdentity> identify_file(int fd);

// Renames `from` over `to`, replacing a file there.
bool replace_file(const std::string &from, const std::string &to);

// Removes the file `path` (a link, not what it names); true when it is gone
// or was never there.
bool remove_file(const std::string &path);

// Removes the empty directory `path`.
bool remove_empty_directory(const std::string &path);

// Up to `limit` names of the entries of the directory `path`, "." and ".."
// among them where the host lists them.
std::vector<std::string> directory_names(const std::string &path, size_t limit);

// `size` random bytes from the system; false when it has none to give.
bool random_bytes(unsigned char *bytes, size_t size);

// A download's lock: a file that says, as long as it exists and its holder
// lives, that the download it names still runs. Creates the lock
// <base>.lock, already held when it appears; -1 when it cannot, with
// `retry` set when another name is to be tried (this one is taken, or a
// cleaner came in between).
int create_held_lock(const std::string &base, bool &retry);

// Opens the lock `path` and holds it when nobody else does; -1 otherwise.
int hold_lock_if_free(const std::string &path);

// Gives up the held lock `lock` (open on `path`) and removes it.
void remove_held_lock(Descriptor &lock, const std::string &path);

}  // namespace cdsclient
