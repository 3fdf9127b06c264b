// The private part of a depot handle (see depot_list.hpp): the maps beside
// the entry list, the writers' locks, and which directory index the handle
// uses.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_file.h"
#include "kes/kes_file_guard.hpp"

namespace korvo::depot {

// The advisory lock on a pending entry's data file, held by the handle
// that added the entry; let go and closed with its owner.
class WriterLock {
  public:
    WriterLock() = default;
    explicit WriterLock(KesFile file) : file_(file) {}
    WriterLock(WriterLock &&other) noexcept : file_(other.file_) { other.file_ = nullptr; }
    WriterLock &operator=(WriterLock &&other) noexcept {
        if (this != &other) {
            reset();
            file_ = other.file_;
            other.file_ = nullptr;
        }
        return *this;
    }
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;
    ~WriterLock() { reset(); }
    void reset();

  private:
    KesFile file_ = nullptr;
};

struct HeldObject {
    int32_t slot = -1;
    std::string key;  // the segment it is filed under
    WriterLock writer;
    // The generation of the entry file when the object was last read from
    // it or written to it (see IndexSession::generationOf).
    std::optional<uint64_t> seen;
};

// Which directory index a handle uses; changed under the index's mutex.
struct IndexAttachment {
    bool attached = false;
    korvo::kes::FileIdentity identity;
    uint64_t epoch = 0;  // the index generation it belongs to (a fork starts a new one)
};

struct HandleState {
    std::mutex mutex;  // guards `held` and `bySegment` (and the list)
    std::unordered_map<const DepotEntry *, HeldObject> held;
    std::unordered_map<std::string, std::vector<DepotEntry *>> bySegment;
    IndexAttachment index;
};

// A handle as DepotNew allocates it: the public structure first.
struct DepotHandle {
    Depot depot;
    HandleState *state;
};

}  // namespace korvo::depot
