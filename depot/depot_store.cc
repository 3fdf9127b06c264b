// The depot handle: DepotNew, DepotFree, DepotSetDir, DepotGetDir.
#include "depot/depot_store.h"

#include <vector>

#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_prelude.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_file_guard.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"

using namespace korvo::depot;

namespace {

constexpr const char *kDefaultDir = "depot";
constexpr int32_t kListSlots = 256;

// Makes `dir` (or "depot") the handle's directory and creates it, for the
// owner and the group, when it is missing; the caller holds "DEPOT".
KesStatus *SetUpDirectory(KesStatus *status, Depot *depot, const char *dir) {
    char *copy = KesStringDup(dir != nullptr ? dir : kDefaultDir);
    if (copy == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 1);
    KesMemoryFree(depot->dir);
    depot->dir = copy;
    if (KesDirIsDirectory(depot->dir))
        return FillStatus(status, KES_OK, 0, 0);
    return korvo::kes::CreateSharedDirectory(status, depot->dir);
}

// Creates and takes the named lock for DepotNew; the hold is empty (after
// the failure lines) when it cannot be had.
LockHold CreateLock(KesStatus *status, KesSem *sem, const char *name, const char *who,
                    const char *what) {
    KesInitSem(status, sem, name);
    if (status->code == KES_OK)
        return LockHold::Adopt(sem);
    if (status->code == KES_WAIT_FAILED) {
        Logger(LOG_LEVEL_SURVIVED, "%s continue. Ignore WAIT_TIMEOUT\n", who);
        return LockHold::Adopt(sem);
    }
    Logger(LOG_LEVEL_FAILURE, "DepotNew KesInitSem failed\n");
    Logger(LOG_LEVEL_FAILURE, "DepotNew exit.  Error %d(%d) creating %s synchronization object\n",
           status->code, status->osError, what);
    return LockHold();
}

// Closes a lock the handle made (after its hold went).
void CloseLock(KesSem *sem) {
    KesStatus ignored;
    KesCloseSem(&ignored, sem);
}

}  // namespace

extern "C" {

KesStatus *DepotNew(KesStatus *status, Depot **depot, const char *dir, uint32_t limitKb) {
    constexpr const char *kOp = "DepotNew";
    OperationGuard op(kOp);
    if (!op.check(status, depot))
        return status;
    *depot = nullptr;
    Depot *handle = NewHandle();
    if (handle == nullptr) {
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error allocating depot handle\n", kOp);
        return FillStatus(status, KES_NO_MEMORY, 0, 0);
    }
    LockHold depotHold = CreateLock(status, &handle->depotLock, "DEPOT", "DepotNew depot", "depot");
    if (!depotHold) {
        DestroyHandle(handle);
        return status;
    }
    depotHold.reportAs("DepotSetDir", "depot lock");
    LockHold entryHold = CreateLock(status, &handle->entryLock, "ENTRY", "DepotNew entry", "entry");
    if (!entryHold) {
        depotHold.release();
        CloseLock(&handle->depotLock);
        DestroyHandle(handle);
        return status;
    }
    entryHold.reportAs("DepotSetDir", "entry lock").release();
    if (KesList1Create(&handle->entries, kListSlots, kListSlots) != 0) {
        depotHold.release();
        CloseLock(&handle->entryLock);
        CloseLock(&handle->depotLock);
        DestroyHandle(handle);
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error creating depot entry list\n", kOp);
        return FillStatus(status, KES_NO_MEMORY, 0, 0);
    }
    handle->availableKb = handle->limitKb = limitKb;
    // A directory that cannot be made shows in the operations that use it.
    TraceEntry("DepotSetDir");
    KesStatus setUp;
    SetUpDirectory(&setUp, handle, dir);
    TraceExit("DepotSetDir");
    depotHold.release();
    *depot = handle;
    op.exit();
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *DepotFree(KesStatus *status, Depot *depot) {
    constexpr const char *kOp = "DepotFree";
    OperationGuard op(kOp);
    if (!op.check(nullptr, depot)) {
        return FillStatus(status, KES_OK, 0, 0);
    }
    LockHold &depotHold = op.lock(status, &depot->depotLock, Abandoned::kTolerate);
    if (!depotHold)
        return status;
    // The objects are gathered first: releasing the one an iterator just
    // returned would end the walk.
    std::vector<DepotEntry *> held;
    KesList1Iterator iterator{};
    if (KesList1IteratorCreate(status, depot->entries, &iterator)->code != KES_OK) {
        depotHold.release();
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d creating iterator for depot entries\n", kOp,
               status->code);
        return status;
    }
    int32_t index = -1;
    intptr_t value = 0;
    KesStatus ended;
    try {
        held.reserve(static_cast<size_t>(KesList1GetSize(depot->entries)));
        while (iterator.next(status, &iterator, &index, &value)->code == KES_OK)
            held.push_back(reinterpret_cast<DepotEntry *>(value));
    } catch (const std::exception &) {
        FillStatus(status, KES_NO_MEMORY, 0, 0);
    }
    iterator.end(&ended, &iterator);
    if (status->code != KES_END_OF_LIST) {
        depotHold.release();
        Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d interating depot entries\n", kOp,
               status->code);
        return status;
    }
    for (DepotEntry *entry : held) {
        KesStatus freed;
        // A lock abandoned by a dead process is usable again after the wait
        // that reported it: the object is released on the second try.
        if (DepotFreeEntry_internal(&freed, depot, entry)->code == KES_WAIT_FAILED)
            DepotFreeEntry_internal(&freed, depot, entry);
    }
    DetachIndex(depot);
    KesList1Destroy(&depot->entries);
    KesMemoryFree(depot->dir);
    depot->dir = nullptr;
    KesStatus closed;
    KesCloseSem(&closed, &depot->entryLock);
    depotHold.release();
    KesCloseSem(status, &depot->depotLock);
    DestroyHandle(depot);
    op.exit();
    return status;
}

KesStatus *DepotSetDir(KesStatus *status, Depot *depot, const char *dir) {
    constexpr const char *kOp = "DepotSetDir";
    OperationGuard op(kOp);
    if (!op.check(status, depot))
        return status;
    LockHold &depotHold = op.lock(status, &depot->depotLock, Abandoned::kFail);
    if (!depotHold)
        return status;
    SetUpDirectory(status, depot, dir);
    depotHold.release();
    op.exit();
    return status;
}

const char *DepotGetDir(const Depot *depot) {
    return depot != nullptr ? depot->dir : nullptr;
}
}
