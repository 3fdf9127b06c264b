// Entry list bookkeeping and the release of entry objects.
#include "depot/depot_list.hpp"

#include <ctime>

#include "depot/depot_trace.hpp"
#include "kes/kes_memory.h"

namespace korvo::depot {

int32_t SlotOf(const KesList1 *list, const DepotEntry *entry) {
    if (list == nullptr || entry == nullptr)
        return -1;
    const auto wanted = reinterpret_cast<intptr_t>(entry);
    // Walks the slots from the newest entry; the step count bounds the walk
    // even if the links were damaged.
    int32_t steps = 0;
    for (int32_t i = list->last; i >= 0 && i < list->capacity && steps <= list->capacity;
         i = list->slots[i].link, ++steps) {
        if (list->slots[i].inUse == 1 && list->slots[i].value == wanted)
            return i;
    }
    return -1;
}

bool List(Depot *depot, DepotEntry *entry) {
    return depot != nullptr && KesList1Add(depot->entries, reinterpret_cast<intptr_t>(entry)) >= 0;
}

void Unlist(Depot *depot, DepotEntry *entry) {
    if (depot == nullptr)
        return;
    const int32_t slot = SlotOf(depot->entries, entry);
    if (slot >= 0)
        KesList1Remove(depot->entries, slot);
}

bool Listed(const Depot *depot, const DepotEntry *entry) {
    return depot != nullptr && SlotOf(depot->entries, entry) >= 0;
}

std::vector<DepotEntry *> ListedEntries(const Depot *depot) {
    std::vector<DepotEntry *> found;
    const KesList1 *list = depot != nullptr ? depot->entries : nullptr;
    if (list == nullptr)
        return found;
    int32_t steps = 0;
    for (int32_t i = list->last; i >= 0 && i < list->capacity && steps <= list->capacity;
         i = list->slots[i].link, ++steps) {
        if (list->slots[i].inUse == 1)
            found.push_back(reinterpret_cast<DepotEntry *>(list->slots[i].value));
    }
    return found;
}

void DestroyEntry(DepotEntry *entry) {
    if (entry == nullptr)
        return;
    KesMemoryFree(entry->id);
    KesMemoryFree(entry->version);
    KesMemoryFree(entry->entryFile);
    KesMemoryFree(entry->location);
    KesMemoryFree(entry->properties);
    KesMemoryFree(entry);
}

KesStatus *FreeEntryAs(KesStatus *status, Depot *depot, DepotEntry *entry, const char *op) {
    if (!TakeLock(status, &depot->entryLock, op, Abandoned::kFail))
        return status;
    Unlist(depot, entry);
    DestroyEntry(entry);
    ReleaseLock(&depot->entryLock, op);
    TraceExit(op);
    return Fill(status, KES_OK, 0, 0);
}

KesStatus *DepotFreeEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotFreeEntry_internal";
    TraceEntry(kOp);
    return FreeEntryAs(status, depot, entry, kOp);
}

uint32_t Now() {
    return static_cast<uint32_t>(std::time(nullptr));
}

}  // namespace korvo::depot
