// Files through the host: opening with portable flags, positioned and plain
// reads and writes, status records with 64-bit sizes and times, syncing,
// renaming over an existing file, removing, directories and access checks.
//
// Descriptors are plain ints owned by the caller (kes::UniqueFd closes
// one). Every open is binary and is not inherited by programs the process
// starts. Calls that fail return -1 or false and leave the cause in errno, so
// callers tell a missing file (ENOENT) from the rest as they always have;
// calls that a signal interrupts are retried here, never by the caller.
//
// One implementation per host: host_file_posix.cc here, a Windows twin
// beside it. Threads: any thread; nothing here keeps state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kes/host_replace.hpp"

namespace korvo::host {

// What OpenFile is asked for. kOpenRead, kOpenWrite and kOpenReadWrite are
// exclusive; the others combine with them.
enum OpenFlag : unsigned {
    kOpenRead = 0,
    kOpenWrite = 1u << 0,
    kOpenReadWrite = 1u << 1,
    kOpenCreate = 1u << 2,     // create the file when it is missing
    kOpenExclusive = 1u << 3,  // with kOpenCreate: fail when it exists
    kOpenTruncate = 1u << 4,
    kOpenAppend = 1u << 5,
    kOpenNoFollow = 1u << 6,    // refuse a symbolic link as the last component
    kOpenNonBlock = 1u << 7,    // a FIFO does not hold the open up
    kOpenDirectory = 1u << 8,   // the path must be a directory (for SyncFile)
    kOpenNoTerminal = 1u << 9,  // a terminal never becomes the controlling one
};

// Opens `path`; `mode` gives the permission bits of a created file (before
// the umask). Returns the descriptor, or -1 with errno set.
int OpenFile(const char *path, unsigned flags, unsigned mode = 0666) noexcept;

// Opens `path` with flags spelled in the host's own open(2) numbers, as the
// public file helpers take them; adds binary mode and close-on-exec.
int OpenFileHostFlags(const char *path, int host_flags, unsigned mode = 0666) noexcept;

// The host's own open(2) numbers for `flags` (close-on-exec aside), for the
// public file helpers, which take flags in those numbers.
int HostOpenFlags(unsigned flags) noexcept;

// A C stream over the open descriptor `fd` (mode as fopen's); on success the
// stream owns the descriptor and fclose closes both. NULL with errno.
std::FILE *StreamOfFile(int fd, const char *mode) noexcept;

// Closes `fd`; false when the close reported an error (a write-back failure
// shows here). The descriptor is released either way.
bool CloseFile(int fd) noexcept;

// One read or write at the current position (or at `offset`): the number of
// bytes moved, 0 at the end of the file, -1 with errno on failure. A short
// count is not an error; callers that need all bytes loop.
int64_t ReadFile(int fd, void *buffer, std::size_t count) noexcept;
int64_t WriteFile(int fd, const void *buffer, std::size_t count) noexcept;
int64_t ReadFileAt(int fd, void *buffer, std::size_t count, int64_t offset) noexcept;
int64_t WriteFileAt(int fd, const void *buffer, std::size_t count, int64_t offset) noexcept;

// Moves to `offset` bytes from the start; the new position or -1.
int64_t SeekFile(int fd, int64_t offset) noexcept;
// Moves to `offset` bytes from SEEK_SET, SEEK_CUR or SEEK_END; the new
// position or -1.
int64_t SeekFileFrom(int fd, int64_t offset, int whence) noexcept;
// Whether `fd` is an open descriptor.
bool IsOpenFile(int fd) noexcept;
// Cuts or extends the file to `size` bytes.
bool TruncateFile(int fd, int64_t size) noexcept;
// Makes the file's bytes (or a directory's names, for a descriptor opened
// with kOpenDirectory) durable.
bool SyncFile(int fd) noexcept;
// Opens the directory `path`, syncs it and closes it: a rename into it is
// durable afterwards.
bool SyncDirectory(const char *path) noexcept;
// Clears the non-blocking flag of a descriptor opened with kOpenNonBlock,
// once the caller has checked that it holds a regular file.
bool MakeBlocking(int fd) noexcept;

// Takes an exclusive lock on the whole open file without waiting: true when
// this open file now holds it. The lock belongs to the open file, so another
// open of the same file, by this process too, does not get it; it goes with
// UnlockWholeFile, the last close of the open file, or the process.
bool TryLockWholeFile(int fd) noexcept;
void UnlockWholeFile(int fd) noexcept;

enum class FileKind : uint8_t { kRegular, kDirectory, kSymlink, kOther };

// A file's status, the same width on every host: sizes and times are 64-bit.
struct FileInfo {
    FileKind kind;
    int64_t size;
    uint64_t links;            // names the file has; 0 once removed
    int64_t modified_seconds;  // since 1970 UTC
    int32_t modified_nanoseconds;
    bool owned_by_self;  // the owner is the user the process runs as
    uint64_t device;     // with `inode`: the file's identity
    uint64_t inode;
};

// The status of `path` following links (StatPath), of the link itself
// (StatLink), or of an open descriptor (StatFile).
bool StatPath(const char *path, FileInfo *info) noexcept;
bool StatLink(const char *path, FileInfo *info) noexcept;
bool StatFile(int fd, FileInfo *info) noexcept;

// The cheap check of an open file: its kind, size and number of names, and
// nothing else (no owner, no times).
struct FileBrief {
    bool regular;
    int64_t size;
    uint64_t links;
};
bool BriefStatFile(int fd, FileBrief *brief) noexcept;

// Whether a file that was replaced or removed while open may keep a name
// until its last handle closes (Windows moves it aside), so that the link
// count of BriefStatFile does not show it gone: callers that must know then
// ask PathNamesFile. False on POSIX hosts.
bool ReplacedFilesKeepAName() noexcept;
// Whether `path` names the file open as `fd` (the same device and file).
bool PathNamesFile(const char *path, int fd) noexcept;

// RenameReplacing and OpenFileOrReplacement: kes/host_replace.hpp.
// Removes the file `path`; a process that holds it open keeps reading it.
bool RemoveFile(const char *path) noexcept;
// Creates the directory `path` with permission bits `mode` (before the
// umask; a host without such bits keeps the directory to its owner when
// `mode` has no bits for others).
bool MakeDirectory(const char *path, unsigned mode) noexcept;

// Removes the empty directory `path`.
bool RemoveEmptyDirectory(const char *path) noexcept;
// Copies the current directory into `buffer` (`size` bytes, terminated);
// false with errno (ERANGE when it does not fit).
bool CurrentDirectory(char *buffer, std::size_t size) noexcept;
// Makes `path` the current directory.
bool ChangeDirectory(const char *path) noexcept;

// The checks of CheckAccess, combinable as access(2)'s (0 existence, 2 write,
// 4 read).
enum AccessMode : int { kAccessExists = 0, kAccessWrite = 2, kAccessRead = 4 };
bool CheckAccess(const char *path, int mode) noexcept;

}  // namespace korvo::host
