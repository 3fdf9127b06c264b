// Walking a depot's entry files: DepotEnumNew, DepotEntryEnumNextElement,
// DepotEntryEnumDelete.
#include "depot/depot_enum.h"

#include <string>

#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_path.h"
#include "kes/kes_string.h"

using namespace korvo::depot;

namespace {

constexpr const char *kNext = "DepotEntryEnumNextElement";

void LogReadFailure(ReadFailure failure, const KesStatus &status, const char *path) {
    switch (failure) {
        case ReadFailure::kOpen:
            Logger(kSurvivedLevel, "%s error %d opening file %s\n", kNext, status.code, path);
            break;
        case ReadFailure::kSize:
            Logger(kSurvivedLevel, "%s error %d obtaining size of file %s\n", kNext, status.code,
                   path);
            break;
        case ReadFailure::kMemory:
            Logger(kSurvivedLevel, "%s error allocating memory to read file %s\n", kNext, path);
            break;
        case ReadFailure::kRead:
            Logger(kSurvivedLevel, "%s error %d reading file %s\n", kNext, status.code, path);
            break;
        case ReadFailure::kNone:
            break;
    }
}

// The next entry of the walk; the caller holds "ENUM".
DepotEntry *NextEntry(DepotEntryEnum *walk, std::string &text) {
    Depot *depot = walk->depot;
    char name[KES_DIR_NAME_SIZE];
    KesStatus status;
    DirectorySession session(depot->dir);
    while (KesDirReadDirectory(&status, name, walk->dirHandle)->code == KES_OK) {
        if (!IsEntryFileName(name))
            continue;
        std::string path = std::string(depot->dir) + "/" + name;
        KesPathLocalize(path.data());
        if (const ReadFailure failure = session.read(path.c_str(), &text, &status);
            failure != ReadFailure::kNone) {
            LogReadFailure(failure, status, path.c_str());
            return nullptr;
        }
        DepotEntry *entry = DepotEntryNewFromToc(depot, text.c_str());
        if (entry == nullptr) {
            Logger(kSurvivedLevel, "%s null returned by DepotEntryNewFromToc\n", kNext);
            continue;
        }
        entry->entryFile = KesStringDup(path.c_str());
        if (entry->entryFile == nullptr) {
            Logger(kSurvivedLevel, "%s KesStringDup of %s failed\n", kNext, path.c_str());
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
    TraceEntry(kOp);
    if (!Usable(status, kOp, enumerator, depot))
        return status;
    *enumerator = nullptr;
    auto *walk = static_cast<DepotEntryEnum *>(KesMemoryCalloc(1, sizeof(DepotEntryEnum)));
    if (walk == nullptr)
        return Fill(status, KES_NO_MEMORY, 0, 3);
    walk->depot = depot;
    // Creating the lock takes it; a lock abandoned by its holder is refused
    // here like any other failure.
    if (KesInitSem(status, &walk->enumLock, "ENUM")->code != KES_OK) {
        Logger(kFailureLevel, "%s error %d creating lock\n", kOp, status->code);
        if (walk->enumLock != nullptr) {
            KesStatus ignored;
            KesPostSem(&ignored, &walk->enumLock);
            KesCloseSem(&ignored, &walk->enumLock);
        }
        KesMemoryFree(walk);
        return status;
    }
    if (KesDirOpen(status, &walk->dirHandle, depot->dir)->code != KES_OK) {
        KesStatus ignored;
        KesDirClose(&ignored, walk->dirHandle);
        KesPostSem(&ignored, &walk->enumLock);
        KesCloseSem(&ignored, &walk->enumLock);
        KesMemoryFree(walk);
        return status;
    }
    *enumerator = walk;
    ReleaseLock(&walk->enumLock, kOp, "enum lock");
    TraceExit(kOp);
    return Fill(status, KES_OK, 0, 0);
}

DepotEntry *DepotEntryEnumNextElement(DepotEntryEnum *enumerator) {
    TraceEntry(kNext);
    if (enumerator == nullptr) {
        LogInvalidParameter(kNext);
        return nullptr;
    }
    KesStatus status;
    if (!TakeLock(&status, &enumerator->enumLock, kNext, Abandoned::kFail))
        return nullptr;
    DepotEntry *entry = nullptr;
    try {
        // The buffer is reused for every file this call reads.
        std::string text;
        entry = NextEntry(enumerator, text);
    } catch (const std::exception &) {
        Logger(kSurvivedLevel, "%s error allocating memory to read file %s\n", kNext, "");
    }
    ReleaseLock(&enumerator->enumLock, kNext);
    TraceExit(kNext);
    return entry;
}

KesStatus *DepotEntryEnumDelete(KesStatus *status, DepotEntryEnum *enumerator) {
    constexpr const char *kOp = "DepotEntryEnumDelete";
    TraceEntry(kOp);
    if (!Usable(status, kOp, enumerator) ||
        !TakeLock(status, &enumerator->enumLock, kOp, Abandoned::kFail))
        return status;
    KesStatus step;
    if (KesDirClose(&step, enumerator->dirHandle)->code != KES_OK)
        Logger(kSurvivedLevel, "%s error %d closing directory handle\n", kOp, step.code);
    ReleaseLock(&enumerator->enumLock, kOp);
    if (KesCloseSem(&step, &enumerator->enumLock)->code != KES_OK)
        Logger(kSurvivedLevel, "%s error %d freeing lock\n", kOp, step.code);
    KesMemoryFree(enumerator);
    TraceExit(kOp);
    return Fill(status, KES_OK, 0, 0);
}
}
