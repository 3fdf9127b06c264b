// Finding an entry: in the handle's list, then among the entry files of its
// bucket; and bringing a held object up to date with its entry file.
// Callers hold "DEPOT" (the lookup) or "ENTRY" (the refresh).
#pragma once

#include <cstdint>
#include <string>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"

namespace korvo::depot {

struct Lookup {
    DepotEntry *entry = nullptr;  // listed in the depot; NULL when not found
    bool failed = false;          // the bucket could not be searched
    std::string bucket;           // the segment's bucket, when it could be made
    int32_t freeNumber = -1;      // the smallest number no entry-file name of the bucket carries
    int32_t damagedNumber = -1;   // the number of a damaged record that names the segment
};

// DepotGetEntry_internal: the held object (checked against its file and
// refreshed), or a new object from the entry file of the bucket that holds
// the segment. The bucket's numbers are taken from its names before any
// file is read. Names that are not readable records are skipped with their
// line; a record of the segment that does not parse is skipped too, and its
// number reported.
Lookup DepotGetEntry_internal(Depot *depot, const char *id, const char *version);

// DepotVerifyEntry_internal: whether the object's entry file still holds
// its id and version; the object is refreshed from the file either way.
bool DepotVerifyEntry_internal(Depot *depot, DepotEntry *entry);

// Brings a listed object up to date with its entry file before a change of
// the file; the caller holds "ENTRY". False when the object no longer owns
// its files: its entry file has gone or holds another segment (another
// process removed the entry and the name was reused). An object the caller
// made (not listed), or whose file cannot be read, is left as it is and
// owns its files.
bool Refresh(Depot *depot, DepotEntry *entry);

// Refresh's answer without changing the object.
bool OwnsFiles(Depot *depot, const DepotEntry *entry);

}  // namespace korvo::depot
