// Writing entry files; the caller holds "ENTRY".
#pragma once

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_status.h"

namespace korvo::depot {

// DepotSaveEntry_internal: builds the object's record and replaces its entry
// file with it. An object the depot handed out is written only over an entry
// file that still holds its segment: otherwise (2, 0, 0) and nothing is
// written, so that a removed entry does not come back and a reused name is
// not overwritten.
KesStatus *DepotSaveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry);

// Sets the state and writes the entry file even when the state does not
// change (traced as DepotEntryChangeState), so that a changed
// reference_count reaches the file.
KesStatus *SaveWithState(KesStatus *status, Depot *depot, DepotEntry *entry, int32_t state);

}  // namespace korvo::depot
