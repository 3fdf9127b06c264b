// Saving entries: DepotSaveEntry, DepotEntryChangeState, DepotCompleteEntry.
#include "depot/depot_save.hpp"

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "kes/kes_block.hpp"

namespace korvo::depot {

void LogDisowned(const char *op, const DepotEntry *entry) {
    Logger(LOG_LEVEL_SURVIVED, "%s error entry file %s no longer holds %s^%s\n", op,
           entry->entryFile != nullptr ? entry->entryFile : "",
           entry->id != nullptr ? entry->id : "", entry->version != nullptr ? entry->version : "");
}

KesStatus *DepotSaveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry,
                                   Ownership ownership, std::optional<uint64_t> *generation) {
    constexpr const char *kOp = "DepotSaveEntry_internal";
    OperationGuard op(kOp);
    if (entry->entryFile == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    char *text = nullptr;
    uint32_t length = 0;
    if (DepotEntrySetProperties(status, depot, entry, &text, &length)->code != KES_OK)
        return status;
    const korvo::kes::KesText record(text);
    // Readers refuse larger files: such a record could never be read back.
    if (length > kMaxRecordBytes)
        return FillStatus(status, KES_INVALID, 0, 3);
    IndexSession session(depot);
    if (ownership == Ownership::kCheck) {
        if (!OwnsFiles(depot, entry)) {
            LogDisowned(kOp, entry);
            return FillStatus(status, KES_END, 0, 0);
        }
    }
    const uint64_t segment = SegmentHash(entry->id != nullptr ? entry->id : "",
                                         entry->version != nullptr ? entry->version : "");
    std::optional<uint64_t> written;
    if (ReplaceFile(status, session, entry->entryFile, text, length, segment, &written)->code !=
        KES_OK)
        return status;
    NoteSeen(depot, entry, written);
    if (generation != nullptr)
        *generation = written;
    op.exit();
    return status;
}

KesStatus *SaveEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                     std::optional<uint64_t> *generation) {
    constexpr const char *kOp = "DepotSaveEntry";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    const LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    DepotSaveEntry_internal(status, depot, entry, Ownership::kCheck, generation);
    op.exit();
    return status;
}

}  // namespace korvo::depot

using namespace korvo::depot;

extern "C" {

KesStatus *DepotSaveEntry(KesStatus *status, Depot *depot, DepotEntry *entry) {
    return SaveEntry(status, depot, entry, nullptr);
}

KesStatus *DepotEntryChangeState(KesStatus *status, Depot *depot, DepotEntry *entry,
                                 int32_t state) {
    constexpr const char *kOp = "DepotEntryChangeState";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    const LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    // One view of the directory, brought up to date under "ENTRY", for the
    // read and the write of the record.
    const IndexSession session(depot);
    FillStatus(status, KES_OK, 0, 0);
    // The state is compared with the file's, which another process may have
    // changed since this object was read.
    if (!Refresh(depot, entry)) {
        LogDisowned(kOp, entry);
        FillStatus(status, KES_END, 0, 0);
    } else if (entry->state != state) {
        entry->state = state;
        DepotSaveEntry_internal(status, depot, entry, Ownership::kRefreshed);
    }
    op.exit();
    return status;
}

KesStatus *DepotCompleteEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                              uint32_t deadline) {
    constexpr const char *kOp = "DepotCompleteEntry";
    OperationGuard op(kOp);
    if (!op.check(status, depot, entry))
        return status;
    LockHold &entryHold =
        op.lock(status, &depot->entryLock, Abandoned::kTolerate, "DepotCompleteEntry entry");
    if (!entryHold)
        return status;
    const IndexSession session(depot);
    // One more holder counts from the file's count, not from the object's,
    // so that no other process's completion is lost.
    if (!Refresh(depot, entry)) {
        LogDisowned(kOp, entry);
        FillStatus(status, KES_END, 0, 0);
    } else {
        entry->state = DepotStateComplete;
        if (deadline > entry->deadline)
            entry->deadline = deadline;
        entry->reference_count += 1;
        DepotSaveEntry_internal(status, depot, entry, Ownership::kRefreshed);
    }
    entryHold.release();
    KesStatus freed;
    DepotFreeEntry(&freed, depot, entry);
    op.exit();
    return status;
}
}
