// The process's index of depot directories.
//
// A lookup must see what other processes last wrote, but neither listing a
// depot of 50 000 entries nor reading every entry file of a bucket may be
// part of every lookup. The index keeps, per directory and bucket, the
// entry-file names with the number each carries, and for each name the
// segment (a hash of id and version) that its file held when this process
// last read or wrote it. The directory watcher (kes/kes_dir_watch.hpp)
// keeps it current: a name created, renamed, removed, or whose file was
// written in place, truncated or changed in its attributes becomes unknown
// again, and the next lookup in its bucket reads it. A change is queued
// before the call that made it returns, and the depot's locks order that
// call before our next operation, which drains the queue first; so a lookup
// answers as a fresh listing would, and it reads only the files that may
// hold its segment: those the index does not know and those that held the
// segment. What a lookup finds it always reads from the file itself.
//
// The index knows names, not contents: a file changed through a hard link
// made elsewhere changes no name of the directory and is seen when the file
// is next read (the lookup of the segment it held, a walk, a refresh).
//
// Memory: at most kMaxIndexedNames names per directory (beyond that the
// directory is listed for every lookup), a few dozen bytes each; a
// directory's index goes when the last handle that uses it is freed. When
// the watcher cannot watch a directory (the plain watcher, a limit of the
// kernel), or KORVO_DEPOT_WATCH is "0", the index does not serve it and
// callers list the directory.
//
// Threads: the index has one mutex for the process, held only inside each
// call and never while waiting for a depot lock; the visit of a bucket runs
// under it. A process made by fork starts an index of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "depot/depot_store.h"
#include "kes/kes_status.h"

namespace korvo::depot {

inline constexpr size_t kMaxIndexedNames = 500000;

struct DirectoryIndex;

// The hash of a segment's id and version that the index remembers for a
// file.
uint64_t SegmentHash(std::string_view id, std::string_view version);

// One operation's use of the index of its depot's directory: made up to
// date when the session begins, shared by the sessions that the operation
// opens inside it (same thread, same directory).
class IndexSession {
  public:
    explicit IndexSession(Depot *depot);
    ~IndexSession();
    IndexSession(const IndexSession &) = delete;
    IndexSession &operator=(const IndexSession &) = delete;

    // Reads a name of the bucket: what its file holds (the hash of its id
    // and version, or nothing for a file that is not a readable record);
    // sets *stop to end the visit.
    using Visit = std::function<std::optional<uint64_t>(const std::string &name, bool *stop)>;

    // Visits the bucket's names that may hold the segment `segment`: those
    // whose content the index does not know (it notes what each visit found),
    // then those that held the segment. *freeNumber is the smallest
    // non-negative number that no entry-file name of the bucket carries.
    // False when the index does not serve the directory: nothing is visited.
    bool visitBucket(std::string_view bucket, uint64_t segment, int32_t *freeNumber,
                     const Visit &visit);

    // Renames the written `temporary` over `path` and notes that the file
    // now holds `segment`; *generation (when given) gets the file's new
    // generation, or nothing when the index does not serve it.
    KesStatus *replace(KesStatus *status, const char *temporary, const char *path, uint64_t segment,
                       std::optional<uint64_t> *generation = nullptr);

    // The generation of the file at `path`: a number that changes whenever
    // the file is changed, by this process or another (through a name of
    // the directory). Nothing when the index does not serve the directory
    // or does not hold the name.
    std::optional<uint64_t> generationOf(const char *path) const;

  private:
    std::string_view nameOf(std::string_view path) const;

    DirectoryIndex *index_ = nullptr;  // NULL: the index does not serve the directory
    std::string dir_;
    bool outer_ = false;  // the thread's outermost session
};

// Lets go of the index the handle uses (DepotFree).
void DetachIndex(Depot *depot);

// Whether a directory name is taken for an entry file: longer than 3
// characters and ending in "xml".
bool IsEntryFileName(std::string_view name);

// The entry number of an entry file name: the decimal number that starts at
// its tenth character (after the bucket and a point), read as atoi reads
// (no digits: 0; beyond 32 bits: clamped); -1 for a name too short.
int32_t EntryNumber(std::string_view name);

}  // namespace korvo::depot
