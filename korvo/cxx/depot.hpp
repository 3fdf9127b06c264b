// korvo C++ interface: depots, their entries, and Kes files.
//
//   korvo::Depot depot = korvo::Depot::open(dir);
//   korvo::DepotEntry entry = depot.add("seg-1", "1.0", description);
//   entry.open_for_write(true).write(data);
//   entry.complete(deadline);             // releases the entry object
//
// Failures are KesStatus records in C; here they are thrown as
// korvo::StatusError. Nothing here raises catalog messages.
//
// Ownership: a Depot owns its handle (DepotFree). A DepotEntry owns one
// entry object of its depot and releases it (DepotFreeEntry) when it ends,
// unless an operation that releases the object itself (complete, remove,
// unregister) took it first; afterwards the DepotEntry is empty. Every
// DepotEntry must end before its Depot, since DepotFree releases the objects
// the handle handed out. A File owns a KesFile (KesFileClose).
// Threads: the depot's locks are machine-wide; a handle and its entry
// objects are used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "depot/depot.h"
#include "kes/kes_file.h"
#include "korvo/cxx/error.hpp"

namespace korvo {

/// An owned Kes file handle. Move-only.
class File {
  public:
    /// Opens `path` with KES_FILE_... flags; StatusError when it fails.
    static File open(const std::string &path, int32_t flags) {
        KesStatus status{};
        KesFile file = nullptr;
        KesFileOpen(&status, &file, path.c_str(), flags);
        File owner(file);
        check("KesFileOpen " + path, status);
        return owner;
    }
    /// Takes over `file` (NULL: an empty owner).
    explicit File(KesFile file = nullptr) noexcept : file_(file) {}
    /// Moves hand the file over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    File(File &&other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
    File &operator=(File &&other) noexcept {
        if (this != &other) {
            close_quietly();
            file_ = std::exchange(other.file_, nullptr);
        }
        return *this;
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    ~File() { close_quietly(); }
    ///@}

    /// The C handle.
    KesFile get() const noexcept { return file_; }
    /// Whether a file is held.
    explicit operator bool() const noexcept { return file_ != nullptr; }

    /// Writes all of `data` or of `text` (short writes are continued);
    /// StatusError when a write fails.
    ///@{
    File &write(std::span<const std::byte> data) {
        while (!data.empty()) {
            KesStatus status{};
            std::size_t done = 0;
            check("KesFileWrite", *KesFileWrite(&status, file_, data.data(), data.size(), &done));
            if (done == 0)
                throw StatusError("KesFileWrite (nothing written)", status);
            data = data.subspan(done);
        }
        return *this;
    }
    File &write(std::string_view text) { return write(std::as_bytes(std::span(text))); }
    ///@}
    /// One read into `buffer`; the bytes read, 0 at the end of the file.
    std::size_t read(std::span<std::byte> buffer) {
        KesStatus status{};
        std::size_t done = 0;
        check("KesFileRead", *KesFileRead(&status, file_, buffer.data(), buffer.size(), &done));
        return done;
    }
    /// Closes the file now; StatusError when the close fails.
    void close() {
        KesFile file = std::exchange(file_, nullptr);
        if (file != nullptr) {
            KesStatus status{};
            check("KesFileClose", *KesFileClose(&status, file));
        }
    }

  private:
    void close_quietly() noexcept {
        KesFile file = std::exchange(file_, nullptr);
        if (file != nullptr) {
            KesStatus status{};
            KesFileClose(&status, file);
        }
    }
    KesFile file_;
};

/// One entry object of a depot. Move-only; empty after a releasing
/// operation.
class DepotEntry {
  public:
    /// An empty owner, or the owner of `entry` (NULL: empty), an object of
    /// `depot`.
    ///@{
    DepotEntry() noexcept = default;
    DepotEntry(::Depot *depot, ::DepotEntry *entry) noexcept : depot_(depot), entry_(entry) {}
    ///@}
    /// Moves hand the entry object over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    DepotEntry(DepotEntry &&other) noexcept
        : depot_(other.depot_), entry_(std::exchange(other.entry_, nullptr)) {}
    DepotEntry &operator=(DepotEntry &&other) noexcept {
        if (this != &other) {
            free_quietly();
            depot_ = other.depot_;
            entry_ = std::exchange(other.entry_, nullptr);
        }
        return *this;
    }
    DepotEntry(const DepotEntry &) = delete;
    DepotEntry &operator=(const DepotEntry &) = delete;
    ~DepotEntry() { free_quietly(); }
    ///@}

    /// Whether an entry object is held.
    explicit operator bool() const noexcept { return entry_ != nullptr; }
    /// The entry's fields (id, version, state, location ...).
    const ::DepotEntry *operator->() const noexcept { return entry_; }
    /// The C entry object.
    ::DepotEntry *get() const noexcept { return entry_; }

    /// Opens the data file (DepotFileOpenForRead / ForWrite, emptied with
    /// `truncate`); StatusError when the open fails.
    ///@{
    File open_for_read() {
        KesStatus status{};
        KesFile file = nullptr;
        DepotFileOpenForRead(&status, depot_, held("open_for_read"), &file);
        File owner(file);
        check("DepotFileOpenForRead", status);
        return owner;
    }
    File open_for_write(bool truncate) {
        KesStatus status{};
        KesFile file = nullptr;
        DepotFileOpenForWrite(&status, depot_, held("open_for_write"), &file, truncate ? 1 : 0);
        File owner(file);
        check("DepotFileOpenForWrite", status);
        return owner;
    }
    ///@}
    /// The data file's size in bytes.
    uint64_t file_size() {
        KesStatus status{};
        uint64_t size = 0;
        check("DepotEntryGetFileSize",
              *DepotEntryGetFileSize(&status, depot_, held("file_size"), &size));
        return size;
    }
    /// Sets the entry's state and saves it when it changed.
    void change_state(int32_t state) {
        KesStatus status{};
        check("DepotEntryChangeState",
              *DepotEntryChangeState(&status, depot_, held("change_state"), state));
    }
    /// Writes the entry's record to its entry file.
    void save() {
        KesStatus status{};
        check("DepotSaveEntry", *DepotSaveEntry(&status, depot_, held("save")));
    }

    /// Marks the entry complete with `deadline`, counts one more holder and
    /// saves; releases the entry object (this DepotEntry is empty after it,
    /// whatever the result).
    void complete(uint32_t deadline) {
        ::DepotEntry *entry = take("complete");
        KesStatus status{};
        check("DepotCompleteEntry", *DepotCompleteEntry(&status, depot_, entry, deadline));
    }
    /// Removes the entry's files (DepotRemoveEntry); releases the object.
    void remove(bool force) {
        ::DepotEntry *entry = take("remove");
        KesStatus status{};
        check("DepotRemoveEntry", *DepotRemoveEntry(&status, depot_, entry, force ? 1 : 0));
    }
    /// Counts one holder less (DepotUnregisterEntry); releases the object.
    void unregister(bool force) {
        ::DepotEntry *entry = take("unregister");
        KesStatus status{};
        check("DepotUnregisterEntry", *DepotUnregisterEntry(&status, depot_, entry, force ? 1 : 0));
    }
    /// Releases the object now; the entry's files stay.
    void release() {
        ::DepotEntry *entry = take("release");
        KesStatus status{};
        check("DepotFreeEntry", *DepotFreeEntry(&status, depot_, entry));
    }

  private:
    ::DepotEntry *held(const char *operation) const {
        if (entry_ == nullptr)
            throw std::logic_error(std::string("korvo::DepotEntry::") + operation +
                                   ": the entry was released");
        return entry_;
    }
    ::DepotEntry *take(const char *operation) {
        held(operation);
        return std::exchange(entry_, nullptr);
    }
    void free_quietly() noexcept {
        ::DepotEntry *entry = std::exchange(entry_, nullptr);
        if (entry != nullptr) {
            KesStatus status{};
            DepotFreeEntry(&status, depot_, entry);
        }
    }
    ::Depot *depot_ = nullptr;
    ::DepotEntry *entry_ = nullptr;
};

/// An owned depot handle. Move-only.
class Depot {
  public:
    /// Opens the depot on `dir` (created when missing) with an account of
    /// `limit_kb` kilobytes (0: none); StatusError when DepotNew fails.
    static Depot open(const std::string &dir, uint32_t limit_kb = 0) {
        KesStatus status{};
        ::Depot *depot = nullptr;
        DepotNew(&status, &depot, dir.c_str(), limit_kb);
        Depot owner(depot);
        check("DepotNew " + dir, status);
        if (depot == nullptr)
            throw StatusError("DepotNew " + dir, status);
        return owner;
    }
    /// Moves hand the handle over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    Depot(Depot &&other) noexcept : depot_(std::exchange(other.depot_, nullptr)) {}
    Depot &operator=(Depot &&other) noexcept {
        if (this != &other) {
            free_quietly();
            depot_ = std::exchange(other.depot_, nullptr);
        }
        return *this;
    }
    Depot(const Depot &) = delete;
    Depot &operator=(const Depot &) = delete;
    ~Depot() { free_quietly(); }
    ///@}

    /// The C handle.
    ::Depot *get() const noexcept { return depot_; }
    /// The depot's directory.
    std::string_view dir() const noexcept { return DepotGetDir(depot_); }

    /// The complete entry of the segment, or a new pending one with an empty
    /// data file; empty when the segment is there in another state or the
    /// add fails (DepotAddEntry).
    DepotEntry add(std::string_view id, std::string_view version,
                   std::span<const std::byte> properties) {
        const std::string i(id), v(version);
        const DepotPropertyBlock block{properties.data(), static_cast<uint32_t>(properties.size())};
        return DepotEntry(depot_, DepotAddEntry(depot_, i.c_str(), v.c_str(), block));
    }
    /// The entry of the segment; empty when there is none.
    DepotEntry get(std::string_view id, std::string_view version) {
        const std::string i(id), v(version);
        return DepotEntry(depot_, DepotGetEntry(depot_, i.c_str(), v.c_str()));
    }

  private:
    explicit Depot(::Depot *depot) noexcept : depot_(depot) {}
    void free_quietly() noexcept {
        ::Depot *depot = std::exchange(depot_, nullptr);
        if (depot != nullptr) {
            KesStatus status{};
            DepotFree(&status, depot);
        }
    }
    ::Depot *depot_;
};

}  // namespace korvo
