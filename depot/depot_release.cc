// Releasing entry objects and removing entries: DepotFreeEntry,
// DepotEntryFree, DepotUnregisterEntry, DepotRemoveEntry.
#include "depot/depot_release.hpp"

#include <cerrno>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_guard.hpp"

namespace korvo::depot {
namespace {

constexpr const char *kRemove = "DepotRemoveEntry_internal";

// Removes the data file and then, once nothing is left at its name, the
// entry file; the caller holds "ENTRY". True when the entry file went.
bool RemoveFiles(KesStatus *status, Depot *depot, const DepotEntry *entry) {
    const char *location = entry->location != nullptr ? entry->location : "";
    const std::optional<std::string> inside = InsideDepot(depot, location);
    KesStatus removed;
    if (!inside) {
        // Another account may have planted the record: a file elsewhere is
        // not the depot's to remove.
        Logger(LOG_LEVEL_SURVIVED, "%s error data file %s lies outside the depot\n", kRemove,
               location);
        FillStatus(status, KES_SYSTEM_ERROR, EPERM, 2);
    } else if (KesFileRemove(&removed, inside->c_str())->code != KES_OK) {
        Logger(LOG_LEVEL_SURVIVED, "%s exit.  Error %d removing file %s\n", kRemove, removed.code,
               location);
        *status = removed;
    }
    // The entry file goes only once the data file is gone: an entry whose
    // data could not be removed stays findable.
    if (korvo::kes::PathExists(inside ? inside->c_str() : location))
        return false;
    if (KesFileRemove(&removed, entry->entryFile)->code != KES_OK) {
        Logger(LOG_LEVEL_SURVIVED, "%s exit.  Error %d removing file %s\n", kRemove, removed.code,
               entry->entryFile != nullptr ? entry->entryFile : "");
        *status = removed;
        return false;
    }
    return true;
}

}  // namespace

KesStatus *DepotRemoveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry,
                                     uint8_t force, Ownership ownership, bool *removed) {
    OperationGuard op(kRemove);
    if (removed != nullptr)
        *removed = false;
    LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    const IndexSession session(depot);
    FillStatus(status, KES_OK, 0, 0);
    // The count decides from the file: another process may have registered
    // the segment since this object was read.
    const bool owned = ownership == Ownership::kRefreshed || Refresh(depot, entry);
    if (owned && (entry->reference_count == 0 || force)) {
        Unlist(depot, entry);
        const bool gone = RemoveFiles(status, depot, entry);
        if (removed != nullptr)
            *removed = gone;
    }
    Unlist(depot, entry);
    entryHold.release();
    KesStatus freed;
    DepotFreeEntry_internal(&freed, depot, entry);
    op.exit();
    return status;
}

}  // namespace korvo::depot

using namespace korvo::depot;

extern "C" {

KesStatus *DepotFreeEntry(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotFreeEntry";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    const LockHold &entryHold =
        op.lock(status, &depot->entryLock, Abandoned::kTolerate, "DepotFree");
    if (!entryHold)
        return status;
    Unlist(depot, entry);
    DepotFreeEntry_internal(status, depot, entry);
    op.exit();
    return status;
}

KesStatus *DepotEntryFree(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotEntryFree";
    OperationGuard op(kOp);
    if (depot == nullptr) {
        // An object of no depot is in no list and needs no lock.
        DestroyEntry(entry);
        op.exit();
        return FillStatus(status, KES_OK, 0, 0);
    }
    return FreeEntryAs(status, depot, entry, op);
}

KesStatus *DepotUnregisterEntry(KesStatus *status, Depot *depot, DepotEntry *entry, uint8_t force) {
    constexpr const char *kOp = "DepotUnregisterEntry";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    KesStatus wait;
    LockHold &depotHold = op.keep(LockHold(&wait, &depot->depotLock, Abandoned::kFail, kOp));
    if (!depotHold) {
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d obtaining depot lock\n", kOp, wait.code);
        *status = wait;
        return status;
    }
    depotHold.reportAs(kOp, "depot lock");
    LockHold &entryHold = op.keep(LockHold(&wait, &depot->entryLock, Abandoned::kFail, kOp));
    if (!entryHold) {
        depotHold.release();
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d obtaining entry lock\n", kOp, wait.code);
        *status = wait;
        return status;
    }
    entryHold.reportAs(kOp, "entry lock");
    const IndexSession session(depot);
    FillStatus(status, KES_OK, 0, 0);
    // The holder is counted off the file's count, under one hold of
    // "ENTRY" with the removal or the save that follows.
    if (!Refresh(depot, entry)) {
        entryHold.release();
        KesStatus freed;
        DepotFreeEntry_internal(&freed, depot, entry);
    } else if (--entry->reference_count == 0) {
        DepotRemoveEntry_internal(status, depot, entry, force, Ownership::kRefreshed);
    } else {
        // Saved even when the state was complete already, so that the count
        // reaches the file.
        entry->state = DepotStateComplete;
        KesStatus saved;
        DepotSaveEntry_internal(&saved, depot, entry, Ownership::kRefreshed);
        entryHold.release();
        KesStatus freed;
        DepotFreeEntry_internal(&freed, depot, entry);
    }
    entryHold.release();
    depotHold.release();
    op.exit();
    return status;
}

KesStatus *DepotRemoveEntry(KesStatus *status, Depot *depot, DepotEntry *entry, uint8_t force) {
    constexpr const char *kOp = "DepotRemoveEntry";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    LockHold &depotHold = op.lock(status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return status;
    DepotRemoveEntry_internal(status, depot, entry, force);
    depotHold.release();
    op.exit();
    return status;
}
}
