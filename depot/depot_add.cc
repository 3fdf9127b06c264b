// Adding a segment to the depot: DepotAddEntry.
#include <algorithm>
#include <cstring>
#include <vector>

#include "depot/depot_files.hpp"
#include "depot/depot_index.hpp"
#include "depot/depot_list.hpp"
#include "depot/depot_lookup.hpp"
#include "depot/depot_ops.h"
#include "depot/depot_prelude.hpp"
#include "depot/depot_release.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_file.h"
#include "kes/kes_memory.h"
#include "kes/kes_string.h"

using namespace korvo::depot;

namespace {

// The smallest non-negative number not taken.
int32_t FreeNumber(std::vector<int32_t> taken) {
    std::sort(taken.begin(), taken.end());
    int32_t candidate = 0;
    for (const int32_t number : taken) {
        if (number == candidate)
            ++candidate;
        else if (number > candidate)
            break;
    }
    return candidate;
}

// A new pending object for the segment with its two paths and a copy of
// the property bytes; NULL when memory is exhausted.
DepotEntry *NewPendingEntry(const Depot *depot, const char *id, const char *version,
                            const std::string &bucket, int32_t number,
                            const DepotPropertyBlock &properties) {
    DepotEntry *entry = DepotEntryNew();
    if (entry == nullptr)
        return nullptr;
    entry->id = KesStringDup(id);
    entry->version = KesStringDup(version);
    entry->entryFile = FilePath(depot->dir, bucket.c_str(), number, "xml");
    entry->location = FilePath(depot->dir, bucket.c_str(), number, "dat");
    if (properties.bytes != nullptr && properties.length > 0) {
        entry->properties = static_cast<unsigned char *>(KesMemoryMalloc(properties.length));
        if (entry->properties != nullptr) {
            std::memcpy(entry->properties, properties.bytes, properties.length);
            entry->propertiesLength = properties.length;
        }
    }
    const bool propertiesCopied =
        properties.bytes == nullptr || properties.length == 0 || entry->properties != nullptr;
    if (entry->id == nullptr || entry->version == nullptr || entry->entryFile == nullptr ||
        entry->location == nullptr || !propertiesCopied) {
        DestroyEntry(entry);
        return nullptr;
    }
    return entry;
}

}  // namespace

extern "C" DepotEntry *DepotAddEntry(Depot *depot, const char *id, const char *version,
                                     DepotPropertyBlock properties) {
    constexpr const char *kOp = "DepotAddEntry";
    TraceEntry(kOp);
    if (depot == nullptr || id == nullptr || version == nullptr) {
        LogInvalidParameter(kOp);
        return nullptr;
    }
    KesStatus status;
    if (!TakeLock(&status, &depot->depotLock, kOp, Abandoned::kTolerate))
        return nullptr;
    LockHold depotHold(&depot->depotLock, kOp);
    // One view of the directory for the lookup and the writing of the entry.
    const DirectorySession session(depot->dir);

    std::vector<int32_t> numbers;
    Lookup found;
    try {
        found = DepotGetEntry_internal(depot, id, version, &numbers);
    } catch (const std::exception &) {
        return nullptr;
    }
    if (found.entry != nullptr) {
        DepotEntry *existing = found.entry;
        if (existing->state != DepotStateComplete) {
            Logger(kSurvivedLevel, "%s unable to use entry due to in-progress operations\n", kOp);
            existing = nullptr;
        }
        depotHold.release();
        TraceExit(kOp);
        return existing;
    }
    // A bucket that could not be searched to its end may hold the segment,
    // or a number we did not see: adding now could duplicate either.
    if (found.failed || depot->dir == nullptr) {
        depotHold.release();
        TraceExit(kOp);
        return nullptr;
    }

    DepotEntry *entry = NewPendingEntry(depot, id, version, found.bucket,
                                        FreeNumber(std::move(numbers)), properties);
    if (entry == nullptr)
        return nullptr;
    if (DepotSaveEntry(&status, depot, entry)->code != KES_OK) {
        DestroyEntry(entry);
        return nullptr;
    }
    if (!List(depot, entry)) {
        KesStatus ignored;
        KesFileRemove(&ignored, entry->entryFile);
        DestroyEntry(entry);
        return nullptr;
    }
    // The data file is made empty, or kept as it is when it exists.
    KesFile data = nullptr;
    KesFileOpen(&status, &data, entry->location, KES_FILE_WRITE | KES_FILE_CREATE);
    KesStatus closed;
    if (data != nullptr)
        KesFileClose(&closed, data);
    if (status.code != KES_OK) {
        KesStatus removed;
        DepotRemoveEntry_internal(&removed, depot, entry, 0);
        depotHold.release();
        TraceExit(kOp);
        return nullptr;
    }
    depotHold.release();
    TraceExit(kOp);
    return entry;
}
