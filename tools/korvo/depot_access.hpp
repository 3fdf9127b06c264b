// The korvo command's access to a depot, through the depot's own operations
// and locks only, so that it is safe beside running methods: a handle
// (DepotNew / DepotFree), walks with the depot's enumerator (one entry
// object at a time, released at once with DepotFreeEntry), and lookups with
// DepotGetEntry. Nothing here writes to the depot.
//
// Ownership: DepotHandle owns its handle; EntryInfo is a plain copy that
// outlives the entry object it was read from.
//
// Threads: a DepotHandle is used by one thread at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "output.hpp"
#include "property_view.hpp"

namespace korvo::cli {

class DepotHandle {
  public:
    // Opens the depot directory `dir`, which must exist (the library would
    // create a missing one; a reading command must not). A Failure when it
    // is not a directory or the depot's locks cannot be had.
    explicit DepotHandle(const std::string &dir, uint32_t limit_kb = 0);
    ~DepotHandle();
    DepotHandle(const DepotHandle &) = delete;
    DepotHandle &operator=(const DepotHandle &) = delete;

    Depot *get() { return depot_; }
    const std::string &dir() const { return dir_; }

  private:
    Depot *depot_ = nullptr;
    std::string dir_;
};

// One entry as the depot holds it.
struct EntryInfo {
    std::string id;
    std::string version;
    int32_t state = 0;
    int32_t reference_count = 0;
    uint32_t deadline = 0;
    int32_t checksum = 0;
    std::string location;               // the data file
    std::string entry_file;             // the entry file
    std::optional<uint64_t> data_size;  // none when the data file cannot be measured
    std::vector<uint8_t> properties;    // the caller's property bytes
};

// Copies what the object holds.
EntryInfo copy_entry(const DepotEntry *entry);
// Copies what the object holds and measures its data file through the
// depot.
EntryInfo read_entry(Depot *depot, DepotEntry *entry);

// Walks the depot with its enumerator. `visit` gets every entry the walk
// returns and answers false to stop early. Returns the number visited. A
// file that cannot be read ends the library's walk early; verify finds the
// entry files a walk did not return.
size_t walk_entries(DepotHandle &depot, const std::function<bool(const EntryInfo &)> &visit);
// The same with a transient progress display (ProgressBar::Transient) for
// walks that only gather what a command prints.
size_t read_entries(DepotHandle &depot, const std::function<bool(const EntryInfo &)> &visit);

// The names the depot takes for entry files: longer than 3 characters,
// ending in "xml".
bool is_entry_file_name(const std::string &name);
// The number of such names in the depot directory.
size_t count_entry_files(const std::string &dir);

// The entry of a segment (DepotGetEntry), or nothing.
std::optional<EntryInfo> find_entry(DepotHandle &depot, const std::string &id,
                                    const std::string &version);

// "pending", "complete", "in use", or "state N".
std::string state_name(int32_t state);
// A complete entry whose deadline has passed (the expiry purge removes it).
bool is_expired(const EntryInfo &entry, std::time_t now);
// Decodes the property bytes into the empty `list` when they are an encoded
// property list; false otherwise.
bool entry_properties(const EntryInfo &entry, PropertyList &list);
// When the depot's machine-wide lock objects belong to another account,
// what the user can do about it; empty otherwise (and always on Windows,
// where the lock objects are named mutexes that carry their own access).
std::string foreign_lock_advice();

// Which data files a writer holds: a pending entry is its writer's while
// the writer's process holds a lock on the entry's data file; an expiry
// purge removes pending entries that nobody holds. On Linux read from
// /proc/locks, so that looking takes no lock a depot operation would meet;
// on Windows, which lists no locks, by trying the lock for an instant.
class WriterLocks {
  public:
    WriterLocks();
    bool held(const std::string &data_file) const;

  private:
    std::set<std::string> files_;  // Linux: "major:minor:inode" as /proc/locks shows them
};

// An entry the expiry purge removes: complete with its deadline passed, or
// pending with no writer.
bool purged_by_expiry(const EntryInfo &entry, std::time_t now, const WriterLocks &writers);

// The segment size the property bytes record under "size", when they are an
// encoded property list that has one.
std::optional<uint64_t> recorded_size(const EntryInfo &entry);

Json entry_json(const EntryInfo &entry, std::time_t now);

}  // namespace korvo::cli
