// Adding a segment to the depot: DepotAddEntry.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_release.hpp"
#include "depot/depot_save.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_guard.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"

using namespace korvo::depot;

namespace {

constexpr const char *kOp = "DepotAddEntry";

// A copy of the caller's property bytes into the object; false without
// memory.
bool CopyProperties(DepotEntry *entry, const DepotPropertyBlock &properties) {
    unsigned char *copy = nullptr;
    if (properties.bytes != nullptr && properties.length > 0) {
        copy = static_cast<unsigned char *>(KesMemoryMalloc(properties.length));
        if (copy == nullptr)
            return false;
        std::memcpy(copy, properties.bytes, properties.length);
    }
    KesMemoryFree(entry->properties);
    entry->properties = copy;
    entry->propertiesLength = copy != nullptr ? properties.length : 0;
    return true;
}

// A new pending object for the segment with its two paths and a copy of
// the property bytes; NULL when memory is exhausted.
DepotEntry *NewPendingEntry(const Depot *depot, const char *id, const char *version,
                            const std::string &bucket, int32_t number,
                            const DepotPropertyBlock &properties) {
    DepotEntry *entry = DepotEntryNew();
    if (entry == nullptr)
        return nullptr;
    entry->id = KesStringDup(id);
    entry->version = KesStringDup(version);
    entry->entryFile = FilePath(depot->dir, bucket.c_str(), number, "xml");
    entry->location = FilePath(depot->dir, bucket.c_str(), number, "dat");
    if (entry->id == nullptr || entry->version == nullptr || entry->entryFile == nullptr ||
        entry->location == nullptr || !CopyProperties(entry, properties)) {
        DestroyEntry(entry);
        return nullptr;
    }
    return entry;
}

// Opens (creating it when missing, keeping its bytes otherwise) the data
// file of a pending entry inside the depot and takes its writer's lock.
// NULL when the file cannot be made or another open of it holds the lock
// (its writer lives); `status` tells which.
KesFile LockDataFile(KesStatus *status, const Depot *depot, const DepotEntry *entry) {
    const std::optional<std::string> data = InsideDepot(depot, entry->location);
    if (!data) {
        FillStatus(status, KES_SYSTEM_ERROR, EPERM, 3);
        return nullptr;
    }
    KesFile file = nullptr;
    if (korvo::kes::OpenRegularFile(status, &file, data->c_str(), KES_FILE_WRITE | KES_FILE_CREATE)
            ->code != KES_OK)
        return nullptr;
    if (!korvo::kes::TryLockFile(file)) {
        KesStatus closed;
        KesFileClose(&closed, file);
        FillStatus(status, KES_SYSTEM_ERROR, EWOULDBLOCK, 3);
        return nullptr;
    }
    return file;
}

// A pending entry whose writer has gone (its process ended or released the
// object without completing it) is this caller's to write now: it takes
// the writer's lock and the new property bytes. False when its writer
// lives, or the entry is not pending any more. Like the add's own lock,
// an entry lock that a dead process left is taken over: the entry file it
// may have been writing is whole (it is replaced in one step) and is read
// again under the lock.
bool TakeOver(Depot *depot, DepotEntry *entry, const DepotPropertyBlock &properties) {
    KesStatus status;
    const LockHold entryHold = TakeLock(&status, &depot->entryLock, kOp, Abandoned::kTolerate);
    if (!entryHold || !Refresh(depot, entry) || entry->state != DepotStatePending)
        return false;
    KesFile locked = LockDataFile(&status, depot, entry);
    if (locked == nullptr)
        return false;
    if (!KeepWriterLock(depot, entry, locked) || !CopyProperties(entry, properties) ||
        DepotSaveEntry_internal(&status, depot, entry, Ownership::kRefreshed)->code != KES_OK)
        return false;
    Logger(LOG_LEVEL_SURVIVED, "%s taking over entry %s of a writer that ended\n", kOp,
           entry->entryFile != nullptr ? entry->entryFile : "");
    return true;
}

}  // namespace

extern "C" DepotEntry *DepotAddEntry(Depot *depot, const char *id, const char *version,
                                     DepotPropertyBlock properties) {
    OperationGuard op(kOp);
    if (!op.check(nullptr, depot, id, version)) {
        return nullptr;
    }
    KesStatus status;
    LockHold &depotHold = op.lock(&status, &depot->depotLock, Abandoned::kTolerate);
    if (!depotHold)
        return nullptr;
    // One view of the directory for the lookup and the writing of the entry.
    IndexSession session(depot);

    Lookup found;
    try {
        found = DepotGetEntry_internal(depot, id, version);
    } catch (const std::exception &) {
        return nullptr;
    }
    if (found.entry != nullptr) {
        DepotEntry *existing = found.entry;
        if (existing->state != DepotStateComplete &&
            !(existing->state == DepotStatePending && TakeOver(depot, existing, properties))) {
            Logger(LOG_LEVEL_SURVIVED, "%s unable to use entry due to in-progress operations\n",
                   kOp);
            existing = nullptr;
        }
        depotHold.release();
        op.exit();
        return existing;
    }
    if (found.failed || depot->dir == nullptr || found.freeNumber < 0) {
        depotHold.release();
        op.exit();
        return nullptr;
    }
    // A damaged record of the segment gives its number to the new entry,
    // so that the segment never has two entry files.
    const int32_t number = found.damagedNumber >= 0 ? found.damagedNumber : found.freeNumber;
    DepotEntry *entry = NewPendingEntry(depot, id, version, found.bucket, number, properties);
    if (entry == nullptr)
        return nullptr;
    std::optional<uint64_t> written;
    if (SaveEntry(&status, depot, entry, &written)->code != KES_OK) {
        DestroyEntry(entry);
        return nullptr;
    }
    if (!List(depot, entry)) {
        KesStatus ignored;
        KesFileRemove(&ignored, entry->entryFile);
        DestroyEntry(entry);
        return nullptr;
    }
    NoteSeen(depot, entry, written);
    // The data file is made empty, or kept as it is when it exists; this
    // handle holds its writer's lock until it releases the object.
    KesFile locked = LockDataFile(&status, depot, entry);
    if (locked == nullptr || !KeepWriterLock(depot, entry, locked)) {
        KesStatus removed;
        DepotRemoveEntry_internal(&removed, depot, entry, 0);
        depotHold.release();
        op.exit();
        return nullptr;
    }
    depotHold.release();
    op.exit();
    return entry;
}
