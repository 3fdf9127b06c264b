// Finding an entry: in the handle's list, then among the entry files of its
// bucket; and the test of whether an object may still touch its files.
// Callers hold "DEPOT" (the lookup) or "ENTRY" (the file test).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "depot/depot_entry.h"
#include "depot/depot_index.hpp"
#include "depot/depot_store.h"

namespace korvo::depot {

struct Lookup {
    DepotEntry *entry = nullptr;  // listed in the depot; NULL when not found
    bool failed = false;          // the bucket could not be searched to its end
    std::string bucket;           // the segment's bucket, when it could be made
};

// DepotGetEntry_internal: the held object (checked against its file and
// refreshed), or a new object from the first entry file of the bucket that
// holds the segment. With `numbers`, the entry numbers of every entry-file
// name of the bucket are gathered first, before any file is read.
Lookup DepotGetEntry_internal(Depot *depot, const char *id, const char *version,
                              std::vector<int32_t> *numbers);

// DepotVerifyEntry_internal: whether the object's entry file still holds
// its id and version; the object is refreshed from the file either way.
bool DepotVerifyEntry_internal(Depot *depot, DepotEntry *entry);

// Whether the object may write or remove its files: always for an object
// the caller made, and for one the depot handed out unless its entry file
// has gone or now holds another segment (another process removed the entry
// and the name was reused). The caller holds "ENTRY".
bool FilesBelongTo(Depot *depot, DepotEntry *entry);
bool FilesBelongTo(Depot *depot, DepotEntry *entry, DirectorySession &session);

}  // namespace korvo::depot
