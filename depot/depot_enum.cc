// Walking a depot's entry files: DepotEnumNew, DepotEntryEnumNextElement,
// DepotEntryEnumDelete.
#include "depot/depot_enum.h"

#include <string>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_operation.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_path.h"
#include "kes/kes_string.h"

using namespace korvo::depot;

namespace {

constexpr const char *kNext = "DepotEntryEnumNextElement";

// The next entry of the walk; the caller holds "ENUM". Names that are not
// readable entry files are reported and passed over: a stray directory,
// FIFO or oversized file must not end the walk (a purge would stop there).
DepotEntry *NextEntry(DepotEntryEnum *walk, std::string &text) {
    Depot *depot = walk->depot;
    char name[KES_DIR_NAME_SIZE];
    KesStatus status;
    while (KesDirReadDirectory(&status, name, walk->dirHandle)->code == KES_OK) {
        if (!IsEntryFileName(name))
            continue;
        const std::string path = PathIn(depot->dir, name);
        if (const ReadStep step = ReadEntryFile(path.c_str(), &text, &status);
            step != ReadStep::kNone) {
            LogReadFailure(kNext, step, status, path.c_str(), "obtaining size",
                           "%s error allocating memory to read file %s\n");
            continue;
        }
        DepotEntry *entry = DepotEntryNewFromToc(depot, text.c_str());
        if (entry == nullptr) {
            Logger(LOG_LEVEL_SURVIVED, "%s null returned by DepotEntryNewFromToc\n", kNext);
            continue;
        }
        entry->entryFile = KesStringDup(path.c_str());
        if (entry->entryFile == nullptr) {
            Logger(LOG_LEVEL_SURVIVED, "%s KesStringDup of %s failed\n", kNext, path.c_str());
            KesStatus freed;
            DepotFreeEntry(&freed, depot, entry);
            continue;
        }
        return entry;
    }
    return nullptr;
}

}  // namespace

extern "C" {

KesStatus *DepotEnumNew(KesStatus *status, Depot *depot, DepotEntryEnum **enumerator) {
    constexpr const char *kOp = "DepotEnumNew";
    OperationGuard op(kOp);
    if (!op.check(status, enumerator, depot))
        return status;
    *enumerator = nullptr;
    auto *walk = static_cast<DepotEntryEnum *>(KesMemoryCalloc(1, sizeof(DepotEntryEnum)));
    if (walk == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    walk->depot = depot;
    // Creating the lock takes it; a lock abandoned by its holder is refused
    // here like any other failure.
    KesInitSem(status, &walk->enumLock, "ENUM");
    LockHold enumHold = LockHold::Adopt(&walk->enumLock);
    const auto giveUp = [&] {
        enumHold.release();
        if (walk->enumLock != nullptr) {
            KesStatus ignored;
            KesCloseSem(&ignored, &walk->enumLock);
        }
        KesMemoryFree(walk);
        return status;
    };
    if (status->code != KES_OK) {
        Logger(LOG_LEVEL_FAILURE, "%s error %d creating lock\n", kOp, status->code);
        return giveUp();
    }
    if (KesDirOpen(status, &walk->dirHandle, depot->dir)->code != KES_OK) {
        KesStatus ignored;
        KesDirClose(&ignored, walk->dirHandle);
        return giveUp();
    }
    *enumerator = walk;
    enumHold.reportAs(kOp, "enum lock").release();
    op.exit();
    return FillStatus(status, KES_OK, 0, 0);
}

DepotEntry *DepotEntryEnumNextElement(DepotEntryEnum *enumerator) {
    OperationGuard op(kNext);
    if (!op.check(nullptr, enumerator)) {
        return nullptr;
    }
    KesStatus status;
    LockHold &enumHold = op.lock(&status, &enumerator->enumLock, Abandoned::kFail);
    if (!enumHold)
        return nullptr;
    DepotEntry *entry = nullptr;
    try {
        // The buffer is reused for every file this call reads.
        std::string text;
        entry = NextEntry(enumerator, text);
    } catch (const std::exception &) {
        Logger(LOG_LEVEL_SURVIVED, "%s error allocating memory to read file %s\n", kNext, "");
    }
    enumHold.release();
    op.exit();
    return entry;
}

KesStatus *DepotEntryEnumDelete(KesStatus *status, DepotEntryEnum *enumerator) {
    constexpr const char *kOp = "DepotEntryEnumDelete";
    OperationGuard op(kOp);
    if (!op.check(status, enumerator))
        return status;
    LockHold &enumHold = op.lock(status, &enumerator->enumLock, Abandoned::kFail);
    if (!enumHold)
        return status;
    KesStatus step;
    if (KesDirClose(&step, enumerator->dirHandle)->code != KES_OK)
        Logger(LOG_LEVEL_SURVIVED, "%s error %d closing directory handle\n", kOp, step.code);
    enumHold.release();
    if (KesCloseSem(&step, &enumerator->enumLock)->code != KES_OK)
        Logger(LOG_LEVEL_SURVIVED, "%s error %d freeing lock\n", kOp, step.code);
    KesMemoryFree(enumerator);
    op.exit();
    return FillStatus(status, KES_OK, 0, 0);
}
}
