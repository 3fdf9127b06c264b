// The handle's bookkeeping of the entry objects it handed out, and the
// release of objects.
//
// Every object a depot operation hands out is in depot->entries until it is
// released, and a released object leaves the list by its own slot, never
// merely some other object of the same segment. Beside the list the handle
// keeps two maps, so that no operation walks the list: from each object to
// its slot, and from each segment to its held objects, newest last. All
// three change together under the handle's private mutex.
//
// A handle also holds the writer's lock of every pending entry it added
// (see depot_store.h), until it releases that object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_file.h"
#include "kes/kes_status.h"

namespace korvo::depot {

struct HandleState;

// A new zero-filled handle with its private state; NULL without memory.
Depot *NewHandle();
// Releases the handle and its private state (the caller has released the
// locks, the list and the directory text).
void DestroyHandle(Depot *depot);
// The private state of a handle made by NewHandle.
HandleState &StateOf(const Depot *depot);

// The key of a segment in the maps: id, a zero byte, version.
std::string SegmentKey(std::string_view id, std::string_view version);

// Adds the object; false when the list cannot grow.
bool List(Depot *depot, DepotEntry *entry);
// Takes the object out of the list when it is there, letting go of its
// writer's lock.
void Unlist(Depot *depot, DepotEntry *entry);
// Whether the object is in the list.
bool Listed(const Depot *depot, const DepotEntry *entry);
// The slot of the newest held object of the segment, or -1.
int32_t NewestSlot(const Depot *depot, const char *id, const char *version);
// Every object of the list, newest first.
std::vector<DepotEntry *> ListedEntries(const Depot *depot);
// Files the object again under its id and version, after a refresh from its
// entry file changed them.
void Refile(Depot *depot, DepotEntry *entry);

// Makes `locked` (a data file this handle holds the advisory lock of) the
// writer's lock of the listed object; it is closed when the object leaves
// the list. False (and `locked` closed) when the object is not listed.
bool KeepWriterLock(Depot *depot, DepotEntry *entry, KesFile locked);

// The generation of the object's entry file when the object last matched
// it, and noting it; nothing for an object not listed.
std::optional<uint64_t> SeenGeneration(const Depot *depot, const DepotEntry *entry);
void NoteSeen(Depot *depot, const DepotEntry *entry, std::optional<uint64_t> generation);

class OperationGuard;

// Releases the object's strings, its property bytes and the object.
void DestroyEntry(DepotEntry *entry);

// Takes the object out of the list and releases it under "ENTRY", then logs
// `op`'s exit line; a failed wait releases nothing. The lock lines carry
// `op`'s name, and `op` holds the lock until it ends.
KesStatus *FreeEntryAs(KesStatus *status, Depot *depot, DepotEntry *entry, OperationGuard &op);

// FreeEntryAs between the entry and exit lines of DepotFreeEntry_internal.
KesStatus *DepotFreeEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry);

// The current time in seconds since 1970, as the entry fields keep it.
uint32_t Now();

}  // namespace korvo::depot
