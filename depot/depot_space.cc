// Space accounting: reservations against a handle's limit, giving back what
// a segment did not use, and the total of the depot's data files.
#include "depot/depot_space.h"

#include <cstring>

#include "depot/depot_enum.h"
#include "depot/depot_lock.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/host_path_prefix.hpp"
#include "kes/kes_file.h"

using namespace korvo::depot;

extern "C" {

uint64_t ConvertDataSize(uint64_t bytes) {
    OperationGuard op("ConvertDataSize");
    const uint64_t kb = bytes / 1024 + ((bytes & 0x3FF) != 0 ? 1 : 0);
    op.exit();
    return kb;
}

KesStatus *DepotReserveDiskSpace(KesStatus *status, Depot *depot, uint32_t kb) {
    constexpr const char *kOp = "DepotReserveDiskSpace";
    OperationGuard op(kOp);
    if (!op.check(status, depot))
        return status;
    LockHold &depotHold = op.lock(status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return status;
    FillStatus(status, KES_OK, 0, 0);
    if (depot->limitKb != 0) {
        if (depot->availableKb < kb)
            FillStatus(status, KES_NO_SPACE, 0, 0);
        else
            depot->availableKb -= kb;
    }
    depotHold.release();
    op.exit();
    return status;
}

void DepotUnreserveDiskSpace(Depot *depot, uint32_t kb) {
    constexpr const char *kOp = "DepotUnreserveDiskSpace";
    OperationGuard op(kOp);
    if (!op.check(nullptr, depot)) {
        return;
    }
    KesStatus status;
    LockHold &depotHold = op.lock(&status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return;
    if (depot->limitKb != 0)
        depot->availableKb += kb;
    depotHold.release();
    op.exit();
}

KesStatus *DepotAdjustReservedSpace(KesStatus *status, Depot *depot, const char *id,
                                    const char *version) {
    constexpr const char *kOp = "DepotAdjustReservedSpace";
    OperationGuard op(kOp);
    DepotEntry *entry = depot != nullptr ? DepotGetEntry(depot, id, version) : nullptr;
    if (entry == nullptr) {
        Logger(LOG_LEVEL_NOTICE, "%s unable to find depot entry %s^%s\n", kOp,
               id != nullptr ? id : "", version != nullptr ? version : "");
        op.exit();
        return FillStatus(status, KES_OK, 0, 0);
    }
    KesFileInfo info;
    if (KesFileGetInfo(status, entry->location, &info)->code != KES_OK) {
        op.exit();
        return status;
    }
    // A data file larger than the recorded size gives nothing back.
    const auto used = static_cast<uint64_t>(info.size);
    if (entry->size > used)
        DepotUnreserveDiskSpace(depot, static_cast<uint32_t>(ConvertDataSize(entry->size - used)));
    op.exit();
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *DepotGetPermStorage(KesStatus *status, Depot *depot, uint32_t *total) {
    constexpr const char *kOp = "DepotGetPermStorage";
    OperationGuard op(kOp);
    if (!op.check(status, depot, total))
        return status;
    LockHold &depotHold = op.lock(status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return status;
    DepotEntryEnum *walk = OpenWalk(status, depot, depotHold, kOp);
    if (walk == nullptr)
        return status;
    FillStatus(status, KES_OK, 0, 0);
    const char *dir = depot->dir != nullptr ? depot->dir : "";
    const size_t dirLength = std::strlen(dir);
    while (DepotEntry *entry = DepotEntryEnumNextElement(walk)) {
        // Only data files inside the depot directory count: the paths as
        // stored, compared as the host tells paths apart.
        if (entry->location == nullptr ||
            !korvo::host::PathBeginsWith(entry->location, dir, dirLength))
            continue;
        uint64_t size = 0;
        if (DepotEntryGetFileSize(status, depot, entry, &size)->code != KES_OK) {
            Logger(LOG_LEVEL_FAILURE, "%s error %d obtaining file size\n", kOp, status->code);
            break;
        }
        *total += static_cast<uint32_t>(ConvertDataSize(size));
    }
    KesStatus ended;
    if (DepotEntryEnumDelete(&ended, walk)->code != KES_OK)
        Logger(LOG_LEVEL_SURVIVED, "%s error %d freeing enumerator\n", kOp, ended.code);
    depotHold.release();
    op.exit();
    return status;
}
}
