// The file calls of the korvo command that differ between hosts: looking at
// a path without following a final link, a file's identity, opens that never
// follow a link nor wait on a FIFO, positioned reads and writes, flushing,
// a non-blocking exclusive lock, the output folder as one handle, and the
// free space of a volume. On POSIX these are the system calls themselves; on
// Windows every open is binary and not inherited, a reparse point (symbolic
// link, junction) reads as a link, and a file's identity is its volume
// serial number and file index.
//
// Ownership: descriptors returned are the caller's (close them with
// ::close); a FolderHandle owns what it holds. Threads: any, no shared state.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo::cli::host {

// The characters no single file name of this host holds: its path
// separators and, on Windows, the ':' of a drive or of a file's alternate
// data stream ("name:stream" writes inside "name").
// Whether '\\' separates names in a path, rather than being a character of
// one (quote_path in output.hpp then leaves it as it is).
#ifdef _WIN32
inline constexpr const char *kPathSeparators = "/\\:";
inline constexpr bool kBackslashSeparates = true;
#else
inline constexpr const char *kPathSeparators = "/";
inline constexpr bool kBackslashSeparates = false;
#endif

// lstat: 0, or -1 with errno set.
int lstat_path(const std::string &path, struct stat &status);
bool is_link(const struct stat &status);
bool is_socket(const struct stat &status);

// Device and inode of a file, and its number of names.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t links = 0;
};
// Of an open file, or of what a path names (following links): 0, or -1
// with errno set.
int identity_of(int fd, FileIdentity &identity);
int identity_of(const std::string &path, FileIdentity &identity);

// Opens for reading without following a final link nor waiting on a FIFO,
// not inherited by children: a descriptor, or -1 with errno set.
int open_read_no_follow(const std::string &path);
// The same for reading and writing, creating the file (mode `mode`) when
// it is missing.
int open_write_no_follow(const std::string &path, int mode);

// pread and pwrite: the bytes moved, or -1 with errno set.
int64_t read_at(int fd, void *data, size_t length, uint64_t at);
int64_t write_at(int fd, const void *data, size_t length, uint64_t at);
// ftruncate and fsync: 0, or -1 with errno set.
int cut_file(int fd, uint64_t length);
int flush_file(int fd);
// Flushes the file or folder `path` names (not following a final link):
// 0, or -1 with errno set (ENOENT when nothing is there).
int flush_named(const std::string &path);

// Takes an exclusive lock on the open file without waiting: 0, EWOULDBLOCK
// when another process holds it, or another errno value. The lock ends
// when the descriptor is closed or the process ends. It does not keep
// others from reading the file's first bytes.
int try_lock_exclusive(int fd);

// Makes a directory for its owner alone: 0, or -1 with errno set (EEXIST
// when something is there).
int make_private_dir(const std::string &path);
// The longest file name the directory takes.
size_t longest_file_name(const std::string &dir);
// The bytes available to this account and the volume's size: false when
// they cannot be had.
bool volume_space(const std::string &dir, uint64_t &available, uint64_t &total);

// A folder whose files are reached by name only: no name leads outside it.
// On POSIX it holds the folder's descriptor (openat, fstatat); on Windows
// its path, and a name with a separator is never passed to it.
class FolderHandle {
  public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;

    // 0, or -1 with errno set.
    int open(const std::string &path);
    // lstat of `name` in the folder, with its identity: 0, or -1 with errno.
    int inspect(const std::string &name, struct stat &status, FileIdentity &identity) const;
    // open_write_no_follow of `name` in the folder.
    int open_write(const std::string &name, int mode) const;
    // Flushes the folder's names to disk: 0, or -1 with errno set.
    int flush() const;

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace korvo::cli::host
