// Notifications of changes to the names of directories, for callers that
// keep what they know of a directory current instead of listing it again.
//
// A watcher watches any number of directories and queues, in the order they
// happen, the changes that other calls (of any process) make to their
// names: a name added (created, or renamed into the directory), removed
// (deleted, or renamed away), or whose file changed (written, truncated, or
// its attributes changed); the directory itself
// changed (its attributes) or gone (removed, renamed, unmounted); and a
// loss (the queue overflowed), after which nothing the caller knows of any
// watched directory may be trusted. A change is queued before the call that
// made it returns.
//
// The build chooses the implementation: over inotify, or a plain one that
// watches nothing, whose callers list their directories every time.
//
// Ownership and threads: NewDirWatcher's watcher belongs to the caller and
// serves the process that made it (a process made by fork makes its own);
// callers serialise their use of one watcher.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace korvo::kes {

enum class DirChange {
    kAdded,             // `name` appeared
    kRemoved,           // `name` went away
    kModified,          // the file of `name` changed
    kDirectoryChanged,  // the directory's own attributes changed
    kDirectoryGone,     // the watch ended: the directory was removed, renamed or unmounted
    kLost               // changes were lost: every watch (watch -1) must be refreshed
};

class DirWatcher {
  public:
    using Sink = std::function<void(int watch, DirChange change, std::string_view name)>;

    virtual ~DirWatcher() = default;
    // Starts watching the directory `path`: the watch's number, or -1 when
    // it cannot be watched. Watching the same directory again gives the same
    // number.
    virtual int watch(const char *path) = 0;
    // Stops a watch; its queued changes are dropped.
    virtual void unwatch(int watch) = 0;
    // Hands every change queued so far to `sink`, in order, and empties the
    // queue.
    virtual void drain(const Sink &sink) = 0;
};

// A watcher of the kind the build chose; NULL when none can be made (out of
// descriptors, say), which callers treat as the plain one.
std::unique_ptr<DirWatcher> NewDirWatcher();

}  // namespace korvo::kes
