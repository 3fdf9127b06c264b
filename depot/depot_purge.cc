// The purges: DepotPurge removes every entry (referenced ones only when
// forced), DepotPurgeExpiredEntries the complete entries whose deadline has
// passed and the pending entries whose writer has gone. Both hold "DEPOT"
// for the whole walk.
#include "depot/depot_enum.h"
#include "depot/depot_files.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_prelude.hpp"
#include "depot/depot_release.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_guard.hpp"

using namespace korvo::depot;

namespace {

// A forced purge walks again while its last walk removed something: a
// directory listing may skip names that were renamed into place while it
// was read. The bound only guards against a writer that never stops.
constexpr int kMostWalks = 16;

// One walk of a purge, which holds "DEPOT": hands every entry of the walk
// to `visit`. False (after the failure line) when the walk cannot start;
// "DEPOT" is released then.
template <typename Visit>
bool Walk(KesStatus *status, Depot *depot, LockHold &depotHold, const char *op, Visit visit) {
    DepotEntryEnum *walk = OpenWalk(status, depot, depotHold, op);
    if (walk == nullptr)
        return false;
    while (DepotEntry *entry = DepotEntryEnumNextElement(walk))
        visit(entry);
    CloseWalk(walk);
    return true;
}

// Whether a pending entry's writer has gone: nobody holds the lock of its
// data file (see depot_store.h). The caller holds "ENTRY".
bool WriterGone(const Depot *depot, const DepotEntry *entry) {
    const std::optional<std::string> data = InsideDepot(depot, entry->location);
    if (!data)
        return false;
    KesFile file = nullptr;
    KesStatus status;
    if (korvo::kes::OpenRegularFile(&status, &file, data->c_str(), KES_FILE_READ)->code != KES_OK)
        return !korvo::kes::PathExists(data->c_str());
    const bool gone = korvo::kes::TryLockFile(file);
    korvo::kes::UnlockFile(file);
    KesFileClose(&status, file);
    return gone;
}

}  // namespace

extern "C" {

KesStatus *DepotPurge(KesStatus *status, Depot *depot, uint8_t force) {
    constexpr const char *kOp = "DepotPurge";
    OperationGuard op(kOp);
    if (!op.check(status, depot))
        return status;
    LockHold &depotHold = op.lock(status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return status;
    RemoveStaleTemporaries(depot->dir);
    FillStatus(status, KES_OK, 0, 0);
    for (int pass = 0; pass < kMostWalks; ++pass) {
        int removedCount = 0;
        const bool walked = Walk(status, depot, depotHold, kOp, [&](DepotEntry *entry) {
            bool removed = false;
            DepotRemoveEntry_internal(status, depot, entry, force, Ownership::kCheck, &removed);
            if (status->code != KES_OK)
                Logger(LOG_LEVEL_SURVIVED, "%s error %d removing depot entry\n", kOp, status->code);
            removedCount += removed ? 1 : 0;
        });
        if (!walked)
            return status;
        if (removedCount == 0)
            break;
    }
    depotHold.release();
    op.exit();
    return status;
}

KesStatus *DepotPurgeExpiredEntries(KesStatus *status, Depot *depot) {
    constexpr const char *kOp = "DepotPurgeExpiredEntries";
    OperationGuard op(kOp);
    if (!op.check(status, depot))
        return status;
    LockHold &depotHold =
        op.lock(status, &depot->depotLock, Abandoned::kTolerate, "DepotPurgeExpiredEntries entry");
    if (!depotHold)
        return status;
    // Its release line has always carried this spelling; tests pin it.
    depotHold.reportAs("DepotPurgeExpiredEntris");
    RemoveStaleTemporaries(depot->dir);
    FillStatus(status, KES_OK, 0, 0);
    const bool walked = Walk(status, depot, depotHold, kOp, [&](DepotEntry *entry) {
        KesStatus wait;
        LockHold entryHold(&wait, &depot->entryLock, Abandoned::kFail, kOp);
        if (!entryHold) {
            // The object stays in the list; DepotFree releases it.
            Logger(LOG_LEVEL_SURVIVED, "%s error %d(%d) obtaining lock\n", kOp, wait.code,
                   wait.osError);
            return;
        }
        entryHold.reportAs(kOp);
        // The walk read the record before "ENTRY" was held: the decision is
        // made on the file as it is now, and the removal follows under the
        // same hold, so that a completion by another process in between is
        // not overruled. Complete entries expire once their deadline lies
        // before now; pending ones once their writer has gone; entries in
        // use never.
        const bool current = Refresh(depot, entry);
        const bool expired =
            current && ((entry->state == DepotStateComplete && entry->deadline < Now()) ||
                        (entry->state == DepotStatePending && WriterGone(depot, entry)));
        if (expired) {
            DepotRemoveEntry_internal(status, depot, entry, 1, Ownership::kRefreshed);
            if (status->code != KES_OK)
                Logger(LOG_LEVEL_SURVIVED, "%s error %d removing depot entry\n", kOp, status->code);
        } else {
            KesStatus freed;
            DepotFreeEntry_internal(&freed, depot, entry);
        }
    });
    if (!walked)
        return status;
    depotHold.release();
    op.exit();
    return status;
}
}
