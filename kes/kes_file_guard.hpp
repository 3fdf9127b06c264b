// Files in directories that other programs and accounts can write to: opens
// that neither follow a symbolic link at the last component nor block on a
// FIFO or a device, and that refuse anything but a regular file; whole reads
// bounded before any byte is read; an advisory lock a process holds on an
// open file until it lets it go or ends; directories made for the owner and
// the group; and the process id the names of temporary files carry.
//
// Internal to the library (C++). Nothing here raises or allocates for the
// caller beyond the KesFile and std::string it fills. Any thread may call
// these; a KesFile is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "kes/kes_file.h"
#include "kes/kes_status.h"

namespace korvo::kes {

// Mode of the files and directories made here, before the umask: the owner
// and the group, never other accounts.
inline constexpr uint32_t kSharedFileMode = 0660;
inline constexpr uint32_t kSharedDirectoryMode = 0770;

// Opens `path` with Kes open `flags` as KesFileOpen does (flags that name
// no access mode: (-4, EINVAL, 3)), except that a
// symbolic link at the last component fails (-4, ELOOP, 3), the open never
// waits for a FIFO's other end or a device, and a file that is not regular
// is refused: (-4, EISDIR, 3) for a directory, (-4, ENXIO, 3) for anything
// else. A created file gets kSharedFileMode. *size (when given) gets the
// file's size. On every failure *file is NULL.
KesStatus *OpenRegularFile(KesStatus *status, KesFile *file, const char *path, int32_t flags,
                           int64_t *size = nullptr);

// The step at which a whole read failed.
enum class ReadStep { kNone, kOpen, kSize, kMemory, kRead };

// Reads the regular file at `path` whole into `text` (opened as
// OpenRegularFile does, for reading). A file of more than `limit` bytes is
// refused before anything is read: (-4, EFBIG, 2) at the size step.
// `status` is the failing step's; kNone and code 0 on success.
ReadStep ReadRegularFile(const char *path, size_t limit, std::string *text, KesStatus *status);

// Takes an exclusive advisory lock on the open file without waiting: true
// when this open file now holds it. The lock belongs to the open file (not
// to the process alone), so another open of the same file by this process
// does not get it either; it goes with UnlockFile, with the last close of
// the open file, or with the process.
bool TryLockFile(KesFile file);
void UnlockFile(KesFile file);

// Whether the path names anything, a symbolic link (dangling or not)
// included.
bool PathExists(const char *path);

// Device and inode (on Windows: volume serial number and file index) of
// what `path` names (links followed); false when it cannot be examined.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};
bool IdentityOf(const char *path, FileIdentity *identity);

// Makes the directory with kSharedDirectoryMode (less the umask). NULL path:
// (21, 0, 0); failure: (-4, errno, 1), as KesDirCreateDirectory.
KesStatus *CreateSharedDirectory(KesStatus *status, const char *path);

// The calling process's id, without a system call once known; a process
// made by fork gets its own. (Host calls: kes_process_posix.cc and its
// Windows twin.)
pid_t ProcessId();

// True when no process `pid` exists any more.
bool ProcessEnded(pid_t pid);

}  // namespace korvo::kes
