// The depot handle's list of entry objects, and the release of objects.
//
// Every object a depot operation hands out is in depot->entries until it is
// released, and a released object leaves the list by its own slot, never
// merely some other object of the same segment.
#pragma once

#include <cstdint>
#include <vector>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_status.h"

namespace korvo::depot {

// The slot of this very object in the list, or -1.
int32_t SlotOf(const KesList1 *list, const DepotEntry *entry);
// Adds the object; false when the list cannot grow.
bool List(Depot *depot, DepotEntry *entry);
// Takes the object out of the list when it is there.
void Unlist(Depot *depot, DepotEntry *entry);
// Whether the object is in the list.
bool Listed(const Depot *depot, const DepotEntry *entry);
// Every object of the list, newest first.
std::vector<DepotEntry *> ListedEntries(const Depot *depot);

// Releases the object's strings, its property bytes and the object.
void DestroyEntry(DepotEntry *entry);

// Takes the object out of the list and releases it under "ENTRY", then logs
// `op`'s exit line; a failed wait releases nothing. The lock lines carry `op`.
KesStatus *FreeEntryAs(KesStatus *status, Depot *depot, DepotEntry *entry, const char *op);

// FreeEntryAs between the entry and exit lines of DepotFreeEntry_internal.
KesStatus *DepotFreeEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry);

// The current time in seconds since 1970, as the entry fields keep it.
uint32_t Now();

}  // namespace korvo::depot
