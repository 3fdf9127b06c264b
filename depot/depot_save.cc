// Saving entries: DepotSaveEntry, DepotEntryChangeState, DepotCompleteEntry.
#include "depot/depot_save.hpp"

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_block.hpp"

namespace korvo::depot {

KesStatus *DepotSaveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotSaveEntry_internal";
    TraceEntry(kOp);
    if (entry->entryFile == nullptr)
        return Fill(status, KES_INVALID, 0, 0);
    char *text = nullptr;
    uint32_t length = 0;
    if (DepotEntrySetProperties(status, depot, entry, &text, &length)->code != KES_OK)
        return status;
    const korvo::kes::KesText record(text);
    DirectorySession session(depot->dir);
    if (!FilesBelongTo(depot, entry, session)) {
        Logger(kSurvivedLevel, "%s error entry file %s no longer holds %s^%s\n", kOp,
               entry->entryFile, entry->id != nullptr ? entry->id : "",
               entry->version != nullptr ? entry->version : "");
        return Fill(status, KES_END, 0, 0);
    }
    if (ReplaceFile(status, session, entry->entryFile, text, length)->code != KES_OK)
        return status;
    TraceExit(kOp);
    return status;
}

KesStatus *SaveWithState(KesStatus *status, Depot *depot, DepotEntry *entry, int32_t state) {
    constexpr const char *kOp = "DepotEntryChangeState";
    TraceEntry(kOp);
    if (!TakeLock(status, &depot->entryLock, kOp, Abandoned::kFail))
        return status;
    entry->state = state;
    DepotSaveEntry_internal(status, depot, entry);
    ReleaseLock(&depot->entryLock, kOp);
    TraceExit(kOp);
    return status;
}

}  // namespace korvo::depot

using namespace korvo::depot;

extern "C" {

KesStatus *DepotSaveEntry(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotSaveEntry";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot, entry) ||
        !TakeLock(status, &depot->entryLock, kOp, Abandoned::kFail))
        return status;
    DepotSaveEntry_internal(status, depot, entry);
    ReleaseLock(&depot->entryLock, kOp);
    TraceExit(kOp);
    return status;
}

KesStatus *DepotEntryChangeState(KesStatus *status, Depot *depot, DepotEntry *entry,
                                 int32_t state) {
    constexpr const char *kOp = "DepotEntryChangeState";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot, entry) ||
        !TakeLock(status, &depot->entryLock, kOp, Abandoned::kFail))
        return status;
    Fill(status, KES_OK, 0, 0);
    if (entry->state != state) {
        entry->state = state;
        DepotSaveEntry_internal(status, depot, entry);
    }
    ReleaseLock(&depot->entryLock, kOp);
    TraceExit(kOp);
    return status;
}

KesStatus *DepotCompleteEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                              uint32_t deadline) {
    constexpr const char *kOp = "DepotCompleteEntry";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot, entry) ||
        !TakeLock(status, &depot->entryLock, kOp, Abandoned::kTolerate, "DepotCompleteEntry entry"))
        return status;
    entry->state = DepotStateComplete;
    if (deadline > entry->deadline)
        entry->deadline = deadline;
    entry->reference_count += 1;
    DepotSaveEntry_internal(status, depot, entry);
    ReleaseLock(&depot->entryLock, kOp);
    KesStatus freed;
    DepotFreeEntry(&freed, depot, entry);
    TraceExit(kOp);
    return status;
}
}
