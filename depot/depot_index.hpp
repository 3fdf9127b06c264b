// The process's index of depot directories, and every read and replacement
// of an entry file.
//
// A lookup must see what other processes last wrote, but listing a depot of
// thousands of files for every lookup costs more than everything else the
// lookup does. The index keeps, per directory, the names of its entry files
// by bucket and the texts of the entry files this process last read or
// wrote, and the kernel's change notifications (inotify) keep both current:
// every creation, removal, rename, write-close or attribute change of a name
// in the directory drops or adjusts what the index holds for it. A change
// is queued before the call that made it returns, and the depot's locks
// order that call before our next use, so the index answers as a fresh
// listing and a fresh read would. When the notifications overflow, the
// directory is listed again.
//
// A process that forks gets an index of its own (sharing the parent's
// notification queue, either would take the other's events). When the
// kernel cannot watch a directory (no inotify, a limit reached), or
// KORVO_DEPOT_WATCH is "0", the index does not serve it: callers list the
// directory, and reads go to the disk.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "kes/kes_status.h"

namespace korvo::depot {

// Why an entry file could not be read.
enum class ReadFailure { kNone, kOpen, kSize, kMemory, kRead };

struct DirectoryState;

// One operation's use of the index of a directory: made up to date when
// the session begins, shared by the sessions of the same directory that the
// operation opens inside it. The index's mutex is held only inside each call,
// never while the caller waits for a depot lock.
class DirectorySession {
  public:
    explicit DirectorySession(const char *dir);
    ~DirectorySession();
    DirectorySession(const DirectorySession &) = delete;
    DirectorySession &operator=(const DirectorySession &) = delete;

    // The entry-file names (longer than 3 characters, ending in "xml") whose
    // first 8 characters are `bucket`; false when the index cannot tell
    // (the caller lists the directory).
    bool bucketNames(std::string_view bucket, std::vector<std::string> *names) const;
    // Reads the file at `path` whole into `text`: from the index's copy when
    // nothing has touched the file since, else from the disk. `status` is
    // the failing Kes call's.
    ReadFailure read(const char *path, std::string *text, KesStatus *status);
    // Renames the written `temporary` over `path`, and keeps `text` as the
    // file's content.
    KesStatus *replace(KesStatus *status, const char *temporary, const char *path,
                       std::string_view text);

  private:
    // The name of `path` in the session's directory; empty when `path` is
    // not "<dir>/<name>".
    std::string_view nameOf(std::string_view path) const;

    DirectoryState *state_ = nullptr;  // NULL: the index does not serve the directory
    std::string dir_;
    bool outer_ = false;  // the thread's outermost session
};

// Whether a directory name is taken for an entry file: longer than 3
// characters and ending in "xml".
bool IsEntryFileName(std::string_view name);

// The id of the calling process, without a system call each time.
pid_t ProcessId();

// Reads the file at `path` whole from the disk.
ReadFailure ReadWholeFile(const char *path, std::string *text, KesStatus *status);

}  // namespace korvo::depot
