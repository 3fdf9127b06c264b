// Removing an entry's files; the caller holds "DEPOT".
#pragma once

#include <cstdint>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_status.h"

namespace korvo::depot {

// DepotRemoveEntry_internal: under "ENTRY", removes the data file and then,
// once it is gone, the entry file, when the entry's reference_count is 0 or
// `force` is set; then releases the object. A failed wait for "ENTRY"
// releases nothing. Files that another segment has taken over meanwhile are
// left alone.
KesStatus *DepotRemoveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry,
                                     uint8_t force);

}  // namespace korvo::depot
