// The depot handle: DepotNew, DepotFree, DepotSetDir, DepotGetDir.
#include "depot/depot_store.h"

#include <vector>

#include "depot/depot_list.hpp"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"

using namespace korvo::depot;

namespace {

constexpr const char *kDefaultDir = "depot";
constexpr int32_t kListSlots = 256;

// Makes `dir` (or "depot") the handle's directory and creates it when it is
// missing; the caller holds "DEPOT".
KesStatus *SetUpDirectory(KesStatus *status, Depot *depot, const char *dir) {
    char *copy = KesStringDup(dir != nullptr ? dir : kDefaultDir);
    if (copy == nullptr)
        return Fill(status, KES_NO_MEMORY, 0, 1);
    KesMemoryFree(depot->dir);
    depot->dir = copy;
    if (KesDirIsDirectory(depot->dir))
        return Fill(status, KES_OK, 0, 0);
    return KesDirCreateDirectory(status, depot->dir);
}

// Creates and takes the named lock for DepotNew; false (after the failure
// lines) when it cannot be had.
bool CreateLock(KesStatus *status, KesSem *sem, const char *name, const char *who,
                const char *what) {
    KesInitSem(status, sem, name);
    if (status->code == KES_OK)
        return true;
    if (status->code == KES_WAIT_FAILED) {
        Logger(kSurvivedLevel, "%s continue. Ignore WAIT_TIMEOUT\n", who);
        return true;
    }
    Logger(kFailureLevel, "DepotNew KesInitSem failed\n");
    Logger(kFailureLevel, "DepotNew exit.  Error %d(%d) creating %s synchronization object\n",
           status->code, status->osError, what);
    return false;
}

void CloseLock(KesSem *sem) {
    KesStatus ignored;
    KesPostSem(&ignored, sem);
    KesCloseSem(&ignored, sem);
}

}  // namespace

extern "C" {

KesStatus *DepotNew(KesStatus *status, Depot **depot, const char *dir, uint32_t limitKb) {
    constexpr const char *kOp = "DepotNew";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot))
        return status;
    *depot = nullptr;
    auto *handle = static_cast<Depot *>(KesMemoryCalloc(1, sizeof(Depot)));
    if (handle == nullptr) {
        Logger(kFailureLevel, "%s exit.  Error allocating depot handle\n", kOp);
        return Fill(status, KES_NO_MEMORY, 0, 0);
    }
    if (!CreateLock(status, &handle->depotLock, "DEPOT", "DepotNew depot", "depot")) {
        KesMemoryFree(handle);
        return status;
    }
    if (!CreateLock(status, &handle->entryLock, "ENTRY", "DepotNew entry", "entry")) {
        CloseLock(&handle->depotLock);
        KesMemoryFree(handle);
        return status;
    }
    ReleaseLock(&handle->entryLock, "DepotSetDir", "entry lock");
    if (KesList1Create(&handle->entries, kListSlots, kListSlots) != 0) {
        KesStatus ignored;
        KesCloseSem(&ignored, &handle->entryLock);
        CloseLock(&handle->depotLock);
        KesMemoryFree(handle);
        Logger(kFailureLevel, "%s exit.  Error creating depot entry list\n", kOp);
        return Fill(status, KES_NO_MEMORY, 0, 0);
    }
    handle->availableKb = handle->limitKb = limitKb;
    // A directory that cannot be made shows in the operations that use it.
    TraceEntry("DepotSetDir");
    KesStatus setUp;
    SetUpDirectory(&setUp, handle, dir);
    TraceExit("DepotSetDir");
    ReleaseLock(&handle->depotLock, "DepotSetDir", "depot lock");
    *depot = handle;
    TraceExit(kOp);
    return Fill(status, KES_OK, 0, 0);
}

KesStatus *DepotFree(KesStatus *status, Depot *depot) {
    constexpr const char *kOp = "DepotFree";
    TraceEntry(kOp);
    if (depot == nullptr) {
        LogInvalidParameter(kOp);
        return Fill(status, KES_OK, 0, 0);
    }
    if (!TakeLock(status, &depot->depotLock, kOp, Abandoned::kTolerate))
        return status;
    // The objects are gathered first: releasing the one an iterator just
    // returned would end the walk.
    std::vector<DepotEntry *> held;
    KesList1Iterator iterator{};
    if (KesList1IteratorCreate(status, depot->entries, &iterator)->code != KES_OK) {
        ReleaseLock(&depot->depotLock, kOp);
        Logger(kFailureLevel, "%s exit.  Error %d creating iterator for depot entries\n", kOp,
               status->code);
        return status;
    }
    int32_t index = -1;
    intptr_t value = 0;
    KesStatus ended;
    try {
        while (iterator.next(status, &iterator, &index, &value)->code == KES_OK)
            held.push_back(reinterpret_cast<DepotEntry *>(value));
    } catch (const std::exception &) {
        Fill(status, KES_NO_MEMORY, 0, 0);
    }
    if (status->code != KES_END_OF_LIST) {
        iterator.end(&ended, &iterator);
        ReleaseLock(&depot->depotLock, kOp);
        Logger(kFailureLevel, "%s exit.  Error %d interating depot entries\n", kOp, status->code);
        return status;
    }
    iterator.end(&ended, &iterator);
    for (DepotEntry *entry : held) {
        KesStatus freed;
        // A lock abandoned by a dead process is usable again after the wait
        // that reported it: the object is released on the second try.
        if (DepotFreeEntry_internal(&freed, depot, entry)->code == KES_WAIT_FAILED)
            DepotFreeEntry_internal(&freed, depot, entry);
    }
    KesList1Destroy(&depot->entries);
    KesMemoryFree(depot->dir);
    KesStatus closed;
    KesCloseSem(&closed, &depot->entryLock);
    ReleaseLock(&depot->depotLock, kOp);
    KesCloseSem(status, &depot->depotLock);
    KesMemoryFree(depot);
    TraceExit(kOp);
    return status;
}

KesStatus *DepotSetDir(KesStatus *status, Depot *depot, const char *dir) {
    constexpr const char *kOp = "DepotSetDir";
    TraceEntry(kOp);
    if (!Usable(status, kOp, depot) || !TakeLock(status, &depot->depotLock, kOp, Abandoned::kFail))
        return status;
    SetUpDirectory(status, depot, dir);
    ReleaseLock(&depot->depotLock, kOp);
    TraceExit(kOp);
    return status;
}

const char *DepotGetDir(const Depot *depot) {
    return depot != nullptr ? depot->dir : nullptr;
}
}
