// KesDlist: a ring of heap links closed by the list's own sentinel link, with
// a cursor that walks the ring and stops at the sentinel.
#include "kes/kes_list.h"
#include "kes/kes_memory.h"

#include <cstdlib>

namespace {

KesDlink *Sentinel(KesDlist *list) {
    return &list->sentinel;
}

KesDlink *AddNew(KesDlist *list, void *data, KesDlink *position, bool after) {
    if (list == nullptr)
        return nullptr;
    KesDlink *link = KesDlinkNew(data);
    if (link == nullptr)
        return nullptr;
    if (position == nullptr)
        position = list->cursor;
    if (after)
        KesDlinkAddAfter(position, link);
    else
        KesDlinkAddBefore(position, link);
    ++list->count;
    return link;
}

}  // namespace

extern "C" {

KesDlink *KesDlinkNew(void *data) {
    auto *link = static_cast<KesDlink *>(KesMemoryCalloc(1, sizeof(KesDlink)));
    if (link != nullptr)
        link->data = data;
    return link;
}

void KesDlinkDelete(KesDlink *link) {
    KesMemoryFree(link);
}

void KesDlinkAddAfter(KesDlink *position, KesDlink *link) {
    if (position == nullptr || link == nullptr || position->next == nullptr)
        return;
    link->previous = position;
    link->next = position->next;
    position->next->previous = link;
    position->next = link;
}

void KesDlinkAddBefore(KesDlink *position, KesDlink *link) {
    if (position == nullptr || link == nullptr || position->previous == nullptr)
        return;
    link->next = position;
    link->previous = position->previous;
    position->previous->next = link;
    position->previous = link;
}

void KesDlinkRemove(KesDlink *link) {
    // A link that was never put into a ring has no neighbours to update.
    if (link == nullptr || link->next == nullptr || link->previous == nullptr)
        return;
    link->previous->next = link->next;
    link->next->previous = link->previous;
}

KesDlist *KesDlistNew(void) {
    auto *list = static_cast<KesDlist *>(KesMemoryCalloc(1, sizeof(KesDlist)));
    if (list == nullptr)
        return nullptr;
    list->sentinel.next = Sentinel(list);
    list->sentinel.previous = Sentinel(list);
    list->cursor = Sentinel(list);
    return list;
}

KesDlink *KesDlistAddAfter(KesDlist *list, void *data, KesDlink *position) {
    return AddNew(list, data, position, true);
}

KesDlink *KesDlistAddBefore(KesDlist *list, void *data, KesDlink *position) {
    return AddNew(list, data, position, false);
}

KesDlink *KesDlistAddFirst(KesDlist *list, void *data) {
    return list == nullptr ? nullptr : AddNew(list, data, Sentinel(list), true);
}

KesDlink *KesDlistAddLast(KesDlist *list, void *data) {
    return list == nullptr ? nullptr : AddNew(list, data, Sentinel(list), false);
}

void *KesDlistRemove(KesDlist *list, KesDlink *link) {
    if (list == nullptr || link == nullptr || link == Sentinel(list))
        return nullptr;
    void *data = link->data;
    KesDlinkRemove(link);
    KesDlinkDelete(link);
    --list->count;
    return data;
}

void *KesDlistRemoveElement(KesDlist *list, void *data) {
    if (list == nullptr)
        return nullptr;
    for (KesDlink *link = list->sentinel.next; link != Sentinel(list); link = link->next) {
        if (link->data == data)
            return KesDlistRemove(list, link);
    }
    return nullptr;
}

void *KesDlistRemoveFirst(KesDlist *list) {
    return list == nullptr ? nullptr : KesDlistRemove(list, list->sentinel.next);
}

void *KesDlistRemoveLast(KesDlist *list) {
    return list == nullptr ? nullptr : KesDlistRemove(list, list->sentinel.previous);
}

void *KesDlistGetFirst(const KesDlist *list) {
    return list == nullptr ? nullptr : list->sentinel.next->data;
}

void *KesDlistGetLast(const KesDlist *list) {
    return list == nullptr ? nullptr : list->sentinel.previous->data;
}

void *KesDlistGetNext(KesDlist *list) {
    if (list == nullptr)
        return nullptr;
    list->cursor = list->cursor->next;
    return list->cursor->data;  // the sentinel's data is NULL
}

void *KesDlistGetPrevious(KesDlist *list) {
    if (list == nullptr)
        return nullptr;
    list->cursor = list->cursor->previous;
    return list->cursor->data;
}

KesDlist *KesDlistReset(KesDlist *list) {
    if (list != nullptr)
        list->cursor = Sentinel(list);
    return list;
}

int32_t KesDlistSize(const KesDlist *list) {
    return list == nullptr ? 0 : list->count;
}

int32_t KesDlistPurge(KesDlist *list) {
    if (list == nullptr)
        return 0;
    while (list->sentinel.next != Sentinel(list))
        std::free(KesDlistRemoveFirst(list));
    list->count = 0;
    list->cursor = Sentinel(list);
    return 0;
}

void KesDlistDelete(KesDlist *list) {
    KesMemoryFree(list);
}
}
