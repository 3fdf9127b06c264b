// Removing an entry's files; the caller holds "DEPOT".
#pragma once

#include <cstdint>

#include "depot/depot_entry.h"
#include "depot/depot_save.hpp"
#include "depot/depot_store.h"
#include "kes/kes_status.h"

namespace korvo::depot {

// DepotRemoveEntry_internal: under "ENTRY", brings the object up to date
// with its entry file and, when its reference_count is 0 or `force` is set,
// removes the data file and then, once it is gone, the entry file; then
// releases the object. A failed wait for "ENTRY" releases nothing. Files
// that another segment has taken over meanwhile are left alone, and so is
// a data file outside the depot directory ((-4, EPERM, 2), and its entry
// stays). *removed (when given) tells whether the entry file went.
KesStatus *DepotRemoveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry,
                                     uint8_t force, Ownership ownership = Ownership::kCheck,
                                     bool *removed = nullptr);

}  // namespace korvo::depot
