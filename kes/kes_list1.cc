// KesList1: slots threaded into a list in order of insertion, with a free
// chain. A free slot's `link` names the next free slot, or -1 for "the slot
// right after this one", so never-used slots need no initialisation beyond
// the zero fill and the -1 of the first of them.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "kes/kes_list.h"
#include "kes/kes_memory.h"
#include "kes/kes_status.hpp"

namespace {

using korvo::kes::FillStatus;

struct IteratorState {
    KesList1 *list;
    int32_t current;  // index returned last, -1 before the first step
};

bool InUse(const KesList1 *list, int32_t index) {
    return list != nullptr && index >= 0 && index < list->capacity && list->slots[index].inUse == 1;
}

// Makes room for `growBy` more slots, zero-filled; false (list unchanged)
// when the list cannot grow.
bool Grow(KesList1 *list) {
    if (list->growBy <= 0 || list->capacity > std::numeric_limits<int32_t>::max() - list->growBy)
        return false;
    const int32_t capacity = list->capacity + list->growBy;
    auto *slots = static_cast<KesList1Slot *>(
        KesMemoryRealloc(list->slots, static_cast<size_t>(capacity) * sizeof(KesList1Slot)));
    if (slots == nullptr)
        return false;
    for (int32_t i = list->capacity; i < capacity; ++i)
        slots[i] = KesList1Slot{0, 0, 0, 0};
    list->slots = slots;
    list->capacity = capacity;
    return true;
}

KesStatus *IteratorNext(KesStatus *status, KesList1Iterator *iterator, int32_t *index,
                        intptr_t *value) {
    if (iterator == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    if (index == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    if (value == nullptr)
        return FillStatus(status, KES_INVALID, 0, 2);
    auto *state = static_cast<IteratorState *>(iterator->state);
    if (state == nullptr)
        return FillStatus(status, KES_INVALID, 0, 3);
    const KesList1 *list = state->list;
    const int32_t candidate = state->current == -1 ? list->last : list->slots[state->current].link;
    // A candidate that is not an entry can only come from a removal behind
    // the iterator's back; it ends the walk rather than leave the array.
    if (!InUse(list, candidate))
        return FillStatus(status, KES_END_OF_LIST, 0, 4);
    state->current = candidate;
    *index = candidate;
    *value = list->slots[candidate].value;
    return FillStatus(status, KES_OK, 0, 5);
}

KesStatus *IteratorEnd(KesStatus *status, KesList1Iterator *iterator) {
    if (iterator == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    KesMemoryFree(iterator->state);
    iterator->state = nullptr;
    return FillStatus(status, KES_OK, 0, 1);
}

}  // namespace

extern "C" {

int32_t KesList1Create(KesList1 **list, int32_t count, int32_t growBy) {
    if (list == nullptr || growBy < 0)
        return -1;
    *list = nullptr;
    if (count < 0)
        return -1;
    auto *created = static_cast<KesList1 *>(KesMemoryMalloc(sizeof(KesList1)));
    if (created == nullptr)
        return -1;
    *created = KesList1{-1, 0, nullptr, count, growBy};
    if (count > 0) {
        created->slots = static_cast<KesList1Slot *>(
            KesMemoryCalloc(static_cast<size_t>(count), sizeof(KesList1Slot)));
        if (created->slots == nullptr) {
            KesMemoryFree(created);
            return -1;
        }
        created->slots[0].link = -1;
    }
    *list = created;
    return 0;
}

void KesList1Destroy(KesList1 **list) {
    if (list == nullptr || *list == nullptr)
        return;
    KesMemoryFree((*list)->slots);
    KesMemoryFree(*list);
    *list = nullptr;
}

void KesList1SetSize(KesList1 *, int32_t) {}

int32_t KesList1GetSize(const KesList1 *list) {
    return list == nullptr ? 0 : list->capacity;
}

int32_t KesList1Add(KesList1 *list, intptr_t value) {
    if (list == nullptr)
        return -1;
    const int32_t i = list->freeHead;
    if (i >= list->capacity) {
        if (!Grow(list))
            return -1;
        list->slots[i].link = -1;
    }
    KesList1Slot &slot = list->slots[i];
    int32_t nextFree = slot.link;
    if (nextFree == -1) {
        nextFree = i + 1;
        if (nextFree < list->capacity)
            list->slots[nextFree].link = -1;
    }
    slot.value = value;
    if (list->last != -1)
        list->slots[list->last].next = i;
    slot.link = list->last;
    slot.next = -1;
    slot.inUse = 1;
    list->last = i;
    list->freeHead = nextFree;
    return i;
}

int32_t KesList1Remove(KesList1 *list, int32_t index) {
    if (!InUse(list, index))
        return -1;
    KesList1Slot &slot = list->slots[index];
    const int32_t previous = slot.link;
    const int32_t next = slot.next;
    if (next == -1)
        list->last = previous;
    else
        list->slots[next].link = previous;
    if (previous != -1)
        list->slots[previous].next = next;
    slot.link = list->freeHead;
    slot.inUse = 0;
    list->freeHead = index;
    return 0;
}

intptr_t KesList1Access(const KesList1 *list, int32_t index) {
    return InUse(list, index) ? list->slots[index].value : 0;
}

KesStatus *KesList1IteratorCreate(KesStatus *status, KesList1 *list, KesList1Iterator *iterator) {
    if (iterator == nullptr)
        return FillStatus(status, KES_INVALID, 0, 0);
    if (list == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    auto *state = static_cast<IteratorState *>(KesMemoryMalloc(sizeof(IteratorState)));
    if (state == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    *state = IteratorState{list, -1};
    *iterator = KesList1Iterator{state, IteratorNext, IteratorEnd};
    return FillStatus(status, KES_OK, 0, 4);
}
}
