// Entry list bookkeeping and the release of entry objects.
#include "depot/depot_list.hpp"

#include <algorithm>
#include <ctime>
#include <memory>
#include <type_traits>

#include "depot/depot_handle.hpp"
#include "depot/depot_lock.hpp"
#include "depot/depot_operation.hpp"
#include "kes/kes_memory.h"

namespace korvo::depot {

static_assert(std::is_standard_layout_v<DepotHandle>, "a Depot pointer must convert to its handle");

void WriterLock::reset() {
    if (file_ == nullptr)
        return;
    korvo::kes::UnlockFile(file_);
    KesStatus closed;
    KesFileClose(&closed, file_);
    file_ = nullptr;
}

Depot *NewHandle() {
    auto *handle = static_cast<DepotHandle *>(KesMemoryCalloc(1, sizeof(DepotHandle)));
    if (handle == nullptr)
        return nullptr;
    try {
        handle->state = std::make_unique<HandleState>().release();
    } catch (const std::exception &) {
        KesMemoryFree(handle);
        return nullptr;
    }
    return &handle->depot;
}

void DestroyHandle(Depot *depot) {
    if (depot == nullptr)
        return;
    auto *handle = reinterpret_cast<DepotHandle *>(depot);
    const std::unique_ptr<HandleState> state(handle->state);
    KesMemoryFree(handle);
}

HandleState &StateOf(const Depot *depot) {
    return *reinterpret_cast<const DepotHandle *>(depot)->state;
}

std::string SegmentKey(std::string_view id, std::string_view version) {
    std::string key;
    key.reserve(id.size() + 1 + version.size());
    key.append(id).push_back('\0');
    key.append(version);
    return key;
}

namespace {

std::string KeyOf(const DepotEntry *entry) {
    return SegmentKey(entry->id != nullptr ? entry->id : "",
                      entry->version != nullptr ? entry->version : "");
}

void DropFromSegment(HandleState &state, const std::string &key, const DepotEntry *entry) {
    const auto found = state.bySegment.find(key);
    if (found == state.bySegment.end())
        return;
    std::erase(found->second, entry);
    if (found->second.empty())
        state.bySegment.erase(found);
}

}  // namespace

bool List(Depot *depot, DepotEntry *entry) {
    if (depot == nullptr || entry == nullptr)
        return false;
    HandleState &state = StateOf(depot);
    try {
        std::string key = KeyOf(entry);
        const std::lock_guard guard(state.mutex);
        std::vector<DepotEntry *> &objects = state.bySegment[key];
        objects.reserve(objects.size() + 1);
        auto [place, added] = state.held.try_emplace(entry);
        if (!added)
            return true;
        const int32_t slot = KesList1Add(depot->entries, reinterpret_cast<intptr_t>(entry));
        if (slot < 0) {
            state.held.erase(place);
            if (objects.empty())
                state.bySegment.erase(key);
            return false;
        }
        place->second.slot = slot;
        place->second.key = key;
        objects.push_back(entry);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

void Unlist(Depot *depot, DepotEntry *entry) {
    if (depot == nullptr)
        return;
    HandleState &state = StateOf(depot);
    WriterLock writer;  // let go once the mutex is released
    {
        const std::lock_guard guard(state.mutex);
        const auto found = state.held.find(entry);
        if (found == state.held.end())
            return;
        KesList1Remove(depot->entries, found->second.slot);
        DropFromSegment(state, found->second.key, entry);
        writer = std::move(found->second.writer);
        state.held.erase(found);
    }
}

bool Listed(const Depot *depot, const DepotEntry *entry) {
    if (depot == nullptr)
        return false;
    HandleState &state = StateOf(depot);
    const std::lock_guard guard(state.mutex);
    return state.held.contains(entry);
}

int32_t NewestSlot(const Depot *depot, const char *id, const char *version) {
    HandleState &state = StateOf(depot);
    try {
        const std::string key =
            SegmentKey(id != nullptr ? id : "", version != nullptr ? version : "");
        const std::lock_guard guard(state.mutex);
        const auto found = state.bySegment.find(key);
        if (found == state.bySegment.end() || found->second.empty())
            return -1;
        return state.held.at(found->second.back()).slot;
    } catch (const std::exception &) {
        return -1;
    }
}

std::vector<DepotEntry *> ListedEntries(const Depot *depot) {
    std::vector<DepotEntry *> found;
    const KesList1 *list = depot != nullptr ? depot->entries : nullptr;
    if (list == nullptr)
        return found;
    HandleState &state = StateOf(depot);
    const std::lock_guard guard(state.mutex);
    found.reserve(state.held.size());
    int32_t steps = 0;
    for (int32_t i = list->last; i >= 0 && i < list->capacity && steps <= list->capacity;
         i = list->slots[i].link, ++steps) {
        if (list->slots[i].inUse == 1)
            found.push_back(reinterpret_cast<DepotEntry *>(list->slots[i].value));
    }
    return found;
}

void Refile(Depot *depot, DepotEntry *entry) {
    HandleState &state = StateOf(depot);
    try {
        std::string key = KeyOf(entry);
        const std::lock_guard guard(state.mutex);
        const auto found = state.held.find(entry);
        if (found == state.held.end() || found->second.key == key)
            return;
        DropFromSegment(state, found->second.key, entry);
        // The list's order decides which object is the newest.
        std::vector<DepotEntry *> &objects = state.bySegment[key];
        const auto later = std::find_if(objects.begin(), objects.end(), [&](DepotEntry *other) {
            return state.held.at(other).slot > found->second.slot;
        });
        objects.insert(later, entry);
        found->second.key = std::move(key);
    } catch (const std::exception &) {
        // Left under its old key: DepotFindEntryIndex may miss it, nothing worse.
    }
}

bool KeepWriterLock(Depot *depot, DepotEntry *entry, KesFile locked) {
    WriterLock lock(locked);
    HandleState &state = StateOf(depot);
    const std::lock_guard guard(state.mutex);
    const auto found = state.held.find(entry);
    if (found == state.held.end())
        return false;
    found->second.writer = std::move(lock);
    return true;
}

std::optional<uint64_t> SeenGeneration(const Depot *depot, const DepotEntry *entry) {
    HandleState &state = StateOf(depot);
    const std::lock_guard guard(state.mutex);
    const auto found = state.held.find(entry);
    return found != state.held.end() ? found->second.seen : std::nullopt;
}

void NoteSeen(Depot *depot, const DepotEntry *entry, std::optional<uint64_t> generation) {
    HandleState &state = StateOf(depot);
    const std::lock_guard guard(state.mutex);
    if (const auto found = state.held.find(entry); found != state.held.end())
        found->second.seen = generation;
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

KesStatus *FreeEntryAs(KesStatus *status, Depot *depot, DepotEntry *entry, OperationGuard &op) {
    const LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
    if (!entryHold)
        return status;
    Unlist(depot, entry);
    DestroyEntry(entry);
    op.exit();
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *DepotFreeEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry) {
    constexpr const char *kOp = "DepotFreeEntry_internal";
    OperationGuard op(kOp);
    return FreeEntryAs(status, depot, entry, op);
}

uint32_t Now() {
    return static_cast<uint32_t>(std::time(nullptr));
}

}  // namespace korvo::depot
