// The purges: DepotPurge removes every entry (referenced ones only when
// forced), DepotPurgeExpiredEntries the complete entries whose deadline has
// passed. Both hold "DEPOT" for the whole walk.
#include "depot/depot_enum.h"
#include "depot/depot_files.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_prelude.hpp"
#include "depot/depot_release.hpp"
#include "depot/depot_trace.hpp"

using namespace korvo::depot;

namespace {

// The walk of a purge, which holds "DEPOT": clears away the temporary files
// of writers that died, hands every entry of the walk to `visit`, then ends
// the walk and releases "DEPOT" (its line naming `releaser`). When the walk
// cannot start, "DEPOT" is released with the failure line instead.
template <typename Visit>
KesStatus *Walk(KesStatus *status, Depot *depot, const char *op, const char *releaser,
                Visit visit) {
    RemoveStaleTemporaries(depot->dir);
    DepotEntryEnum *walk = OpenWalk(status, depot, op);
    if (walk == nullptr)
        return status;
    Fill(status, KES_OK, 0, 0);
    while (DepotEntry *entry = DepotEntryEnumNextElement(walk))
        visit(entry);
    KesStatus ended;
    DepotEntryEnumDelete(&ended, walk);
    ReleaseLock(&depot->depotLock, releaser);
    TraceExit(op);
    return status;
}

// The walk read the object before "ENTRY" was held; read it again under the
// lock, so that a process that completed or registered the entry meanwhile
// is not overruled. False when the entry file no longer holds the segment.
bool Refresh(Depot *depot, DepotEntry *entry) {
    return DepotVerifyEntry_internal(depot, entry);
}

}  // namespace

extern "C" {

KesStatus *DepotPurge(KesStatus *status, Depot *depot, uint8_t force) {
    constexpr const char *kOp = "DepotPurge";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot) || !TakeLock(status, &depot->depotLock, kOp, Abandoned::kFail))
        return status;
    return Walk(status, depot, kOp, kOp, [&](DepotEntry *entry) {
        KesStatus wait;
        if (!Acquire(&wait, &depot->entryLock, Abandoned::kFail, kOp)) {
            // DepotRemoveEntry_internal meets the same lock and reports it.
            DepotRemoveEntry_internal(status, depot, entry, force);
            Logger(kSurvivedLevel, "%s error %d removing depot entry\n", kOp, status->code);
            return;
        }
        if (!Refresh(depot, entry)) {
            ReleaseLock(&depot->entryLock, kOp);
            KesStatus freed;
            DepotFreeEntry_internal(&freed, depot, entry);
            return;
        }
        DepotRemoveEntry_internal(status, depot, entry, force);
        ReleaseLock(&depot->entryLock, kOp);
        if (status->code != KES_OK)
            Logger(kSurvivedLevel, "%s error %d removing depot entry\n", kOp, status->code);
    });
}

KesStatus *DepotPurgeExpiredEntries(KesStatus *status, Depot *depot) {
    constexpr const char *kOp = "DepotPurgeExpiredEntries";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot) ||
        !TakeLock(status, &depot->depotLock, kOp, Abandoned::kTolerate,
                  "DepotPurgeExpiredEntries entry"))
        return status;
    // Its release line has always carried this spelling; tests pin it.
    return Walk(status, depot, kOp, "DepotPurgeExpiredEntris", [&](DepotEntry *entry) {
        KesStatus wait;
        if (!Acquire(&wait, &depot->entryLock, Abandoned::kFail, kOp)) {
            // The object stays in the list; DepotFree releases it.
            Logger(kSurvivedLevel, "%s error %d(%d) obtaining lock\n", kOp, wait.code,
                   wait.osError);
            return;
        }
        // Complete entries expire once their deadline lies before now;
        // pending and in-use entries never do.
        const bool current = Refresh(depot, entry);
        const bool expired =
            current && entry->state == DepotStateComplete && entry->deadline < Now();
        if (expired) {
            DepotRemoveEntry_internal(status, depot, entry, 1);
            if (status->code != KES_OK)
                Logger(kSurvivedLevel, "%s error %d removing depot entry\n", kOp, status->code);
        } else {
            KesStatus freed;
            DepotFreeEntry_internal(&freed, depot, entry);
        }
        ReleaseLock(&depot->entryLock, kOp);
    });
}
}
