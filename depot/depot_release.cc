// Releasing entry objects and removing entries: DepotFreeEntry,
// DepotEntryFree, DepotUnregisterEntry, DepotRemoveEntry.
#include "depot/depot_release.hpp"

#include "depot/depot_list.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_save.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_file.h"

namespace korvo::depot {

KesStatus *DepotRemoveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry,
                                     uint8_t force) {
    constexpr const char *kOp = "DepotRemoveEntry_internal";
    TraceEntry(kOp);
    if (!TakeLock(status, &depot->entryLock, kOp, Abandoned::kFail))
        return status;
    Fill(status, KES_OK, 0, 0);
    if ((entry->reference_count == 0 || force) && FilesBelongTo(depot, entry)) {
        Unlist(depot, entry);
        KesStatus removed;
        if (KesFileRemove(&removed, entry->location)->code != KES_OK) {
            Logger(kSurvivedLevel, "%s exit.  Error %d removing file %s\n", kOp, removed.code,
                   entry->location != nullptr ? entry->location : "");
            *status = removed;
        }
        // The entry file goes only once the data file is gone: an entry
        // whose data could not be removed stays findable.
        KesFileInfo info;
        KesStatus queried;
        if (KesFileGetInfo(&queried, entry->location, &info)->code != KES_OK &&
            KesFileRemove(&removed, entry->entryFile)->code != KES_OK) {
            Logger(kSurvivedLevel, "%s exit.  Error %d removing file %s\n", kOp, removed.code,
                   entry->entryFile != nullptr ? entry->entryFile : "");
            *status = removed;
        }
    }
    Unlist(depot, entry);
    ReleaseLock(&depot->entryLock, kOp);
    KesStatus freed;
    DepotFreeEntry_internal(&freed, depot, entry);
    TraceExit(kOp);
    return status;
}

}  // namespace korvo::depot

using namespace korvo::depot;

extern "C" {

KesStatus *DepotFreeEntry(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotFreeEntry";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot, entry) ||
        !TakeLock(status, &depot->entryLock, kOp, Abandoned::kTolerate, "DepotFree"))
        return status;
    Unlist(depot, entry);
    DepotFreeEntry_internal(status, depot, entry);
    ReleaseLock(&depot->entryLock, kOp);
    TraceExit(kOp);
    return status;
}

KesStatus *DepotEntryFree(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotEntryFree";
    TraceEntry(kOp);
    if (depot == nullptr) {
        // An object of no depot is in no list and needs no lock.
        DestroyEntry(entry);
        TraceExit(kOp);
        return Fill(status, KES_OK, 0, 0);
    }
    return FreeEntryAs(status, depot, entry, kOp);
}

KesStatus *DepotUnregisterEntry(KesStatus *status, Depot *depot, DepotEntry *entry, uint8_t force) {
    constexpr const char *kOp = "DepotUnregisterEntry";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot, entry))
        return status;
    KesStatus wait;
    if (!Acquire(&wait, &depot->depotLock, Abandoned::kFail, kOp)) {
        Logger(kFailureLevel, "%s exit.  Error %d obtaining depot lock\n", kOp, wait.code);
        *status = wait;
        return status;
    }
    if (!Acquire(&wait, &depot->entryLock, Abandoned::kFail, kOp)) {
        ReleaseLock(&depot->depotLock, kOp, "depot lock");
        Logger(kFailureLevel, "%s exit.  Error %d obtaining entry lock\n", kOp, wait.code);
        *status = wait;
        return status;
    }
    entry->reference_count -= 1;
    ReleaseLock(&depot->entryLock, kOp, "entry lock");
    if (entry->reference_count == 0) {
        DepotRemoveEntry_internal(status, depot, entry, force);
    } else {
        // Saved even when the state was complete already, so that the count
        // reaches the file.
        KesStatus saved;
        SaveWithState(&saved, depot, entry, DepotStateComplete);
        KesStatus freed;
        DepotFreeEntry_internal(&freed, depot, entry);
        Fill(status, KES_OK, 0, 0);
    }
    ReleaseLock(&depot->depotLock, kOp, "depot lock");
    TraceExit(kOp);
    return status;
}

KesStatus *DepotRemoveEntry(KesStatus *status, Depot *depot, DepotEntry *entry, uint8_t force) {
    constexpr const char *kOp = "DepotRemoveEntry";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot, entry) ||
        !TakeLock(status, &depot->depotLock, kOp, Abandoned::kFail))
        return status;
    DepotRemoveEntry_internal(status, depot, entry, force);
    ReleaseLock(&depot->depotLock, kOp);
    TraceExit(kOp);
    return status;
}
}
