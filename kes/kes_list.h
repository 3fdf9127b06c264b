/* The Kes layer's two lists.
 *
 * KesList1 is an array of slots threaded into a doubly linked list in order
 * of insertion, with a chain of free slots. An entry is named by its slot
 * index, which stays valid until the entry is removed; indexes are handed out
 * in ascending order until the first removal, then the most recently freed
 * slot is reused first. A value is pointer-sized, so an entry may hold a
 * number or an address. The list and its slots live on the Kes heap and are
 * released by KesList1Destroy; an iterator's state by its end operation. What
 * a value points to stays the caller's.
 *
 * KesDlist is a circular doubly linked list of heap links with a cursor. The
 * list object begins with a link (its sentinel), so a list can stand wherever
 * a link position is asked for: pass &list->sentinel, or the list itself cast
 * to a KesDlink pointer. Links are released by the removal operations, the
 * list by KesDlistDelete; data stays the caller's except in KesDlistPurge.
 * Neither list locks: callers serialise their use. */
#ifndef KORVO_KES_KES_LIST_H
#define KORVO_KES_KES_LIST_H

#include <stdint.h>

#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct KesList1Slot {
    int32_t inUse; /* 1 for an entry, 0 for a free slot */
    int32_t
        link; /* entry: previous (older) entry or -1; free: next free slot, -1 = the slot after */
    int32_t next; /* entry: following (newer) entry or -1 */
    intptr_t value;
} KesList1Slot;

typedef struct KesList1 {
    int32_t last;     /* newest entry, -1 when the list is empty */
    int32_t freeHead; /* slot the next add uses; capacity when the array is full */
    KesList1Slot *slots;
    int32_t capacity; /* slots in the array (not entries) */
    int32_t growBy;   /* slots added when the array is full */
} KesList1;

/* Stores a new list in *list and returns 0. Returns -1 when `list` is NULL,
 * `count` or `growBy` is negative or memory is exhausted. *list is set to
 * NULL first whenever `list` is valid and `growBy` is not negative. A count
 * of 0 is allowed: the first add grows the array. */
KORVO_EXPORT int32_t KesList1Create(KesList1 **list, int32_t count, int32_t growBy);
/* Releases the list and its slots and sets *list to NULL; NULL is ignored. */
KORVO_EXPORT void KesList1Destroy(KesList1 **list);
/* Does nothing; the array grows on demand. */
KORVO_EXPORT void KesList1SetSize(KesList1 *list, int32_t size);
/* The number of slots (not of entries); 0 for NULL. */
KORVO_EXPORT int32_t KesList1GetSize(const KesList1 *list);
/* Adds `value` as the newest entry and returns its slot index; -1 for a NULL
 * list or when the array is full and cannot grow (growth step 0 or no
 * memory), in which case the list is unchanged. */
KORVO_EXPORT int32_t KesList1Add(KesList1 *list, intptr_t value);
/* Removes the entry at `index`: 0, or -1 for a NULL list, an index outside
 * the array or a slot not in use. */
KORVO_EXPORT int32_t KesList1Remove(KesList1 *list, int32_t index);
/* The value at `index`; 0 for a NULL list, an index outside the array or a
 * slot not in use. */
KORVO_EXPORT intptr_t KesList1Access(const KesList1 *list, int32_t index);

/* An iterator walks a list from the newest entry to the oldest. The caller
 * provides the record; KesList1IteratorCreate fills it, and the caller steps
 * and ends it through its two operations:
 *   iterator.next(&status, &iterator, &index, &value)
 *     record NULL: 21, step 0; index pointer NULL: 21, step 1; value pointer
 *     NULL: 21, step 2; ended iterator: 21, step 3; an entry: 0, step 5 with
 *     its index and value stored; no further entry: -6, step 4.
 *   iterator.end(&status, &iterator)
 *     releases the state and clears `state`: 0, step 1; record NULL: 21,
 *     step 0.
 * Removing the entry the iterator returned last, before its next step, is
 * not supported: the walk may end there. */
typedef struct KesList1Iterator KesList1Iterator;
typedef KesStatus *(*KesList1IteratorNext)(KesStatus *status, KesList1Iterator *iterator,
                                           int32_t *index, intptr_t *value);
typedef KesStatus *(*KesList1IteratorEnd)(KesStatus *status, KesList1Iterator *iterator);
struct KesList1Iterator {
    void *state; /* Kes heap; released by `end` */
    KesList1IteratorNext next;
    KesList1IteratorEnd end;
};

/* Fills `iterator` for a walk over `list`: 0, step 4. Iterator record NULL:
 * 21, step 0; list NULL: 21, step 1; no memory for the state: 12, step 3. */
KORVO_EXPORT KesStatus *KesList1IteratorCreate(KesStatus *status, KesList1 *list,
                                               KesList1Iterator *iterator);

typedef struct KesDlink {
    struct KesDlink *next;
    struct KesDlink *previous;
    void *data;
} KesDlink;

typedef struct KesDlist {
    KesDlink sentinel; /* next: first link, previous: last link, data: always NULL */
    int32_t count;     /* number of links */
    KesDlink *cursor;  /* the link the cursor stands on; the sentinel after a reset */
} KesDlist;

/* A new unlinked link holding `data`; NULL when memory is exhausted. */
KORVO_EXPORT KesDlink *KesDlinkNew(void *data);
/* Releases a link (not its data); NULL is ignored. */
KORVO_EXPORT void KesDlinkDelete(KesDlink *link);
/* Inserts `link` after or before `position` in position's ring. */
KORVO_EXPORT void KesDlinkAddAfter(KesDlink *position, KesDlink *link);
KORVO_EXPORT void KesDlinkAddBefore(KesDlink *position, KesDlink *link);
/* Takes `link` out of its ring; the link's own pointers are left as they were. */
KORVO_EXPORT void KesDlinkRemove(KesDlink *link);

/* A new empty list; NULL when memory is exhausted. */
KORVO_EXPORT KesDlist *KesDlistNew(void);
/* Adds a new link for `data` after or before `position`, or after or before
 * the cursor when `position` is NULL. Returns the new link; NULL (and the
 * list unchanged) for a NULL list or when memory is exhausted. */
KORVO_EXPORT KesDlink *KesDlistAddAfter(KesDlist *list, void *data, KesDlink *position);
KORVO_EXPORT KesDlink *KesDlistAddBefore(KesDlist *list, void *data, KesDlink *position);
/* Adds at the front or at the back. */
KORVO_EXPORT KesDlink *KesDlistAddFirst(KesDlist *list, void *data);
KORVO_EXPORT KesDlink *KesDlistAddLast(KesDlist *list, void *data);
/* Unlinks and releases `link` and returns its data. A link under the cursor
 * leaves the cursor on a released link: reset the cursor before moving it. */
KORVO_EXPORT void *KesDlistRemove(KesDlist *list, KesDlink *link);
/* Removes the first link, from the front, whose data is `data` and returns
 * the data; NULL when no link holds it. */
KORVO_EXPORT void *KesDlistRemoveElement(KesDlist *list, void *data);
/* Removes the first or last link and returns its data; NULL when empty. */
KORVO_EXPORT void *KesDlistRemoveFirst(KesDlist *list);
KORVO_EXPORT void *KesDlistRemoveLast(KesDlist *list);
/* Data of the first or last link; NULL when empty. */
KORVO_EXPORT void *KesDlistGetFirst(const KesDlist *list);
KORVO_EXPORT void *KesDlistGetLast(const KesDlist *list);
/* Moves the cursor one link forward or back and returns the data there; NULL
 * when the cursor arrives on the sentinel (the end of a pass). Data stored in
 * a list should therefore not be NULL. */
KORVO_EXPORT void *KesDlistGetNext(KesDlist *list);
KORVO_EXPORT void *KesDlistGetPrevious(KesDlist *list);
/* Puts the cursor on the sentinel and returns the list. */
KORVO_EXPORT KesDlist *KesDlistReset(KesDlist *list);
/* The number of links; 0 for NULL. */
KORVO_EXPORT int32_t KesDlistSize(const KesDlist *list);
/* Removes every link from the front, releasing each non-NULL data block with
 * the C library's free (so the data must come from malloc or the Kes heap),
 * and resets the cursor. Returns 0. */
KORVO_EXPORT int32_t KesDlistPurge(KesDlist *list);
/* Releases the list object only: links still in it are not released. */
KORVO_EXPORT void KesDlistDelete(KesDlist *list);

KORVO_END_DECLS

#endif
