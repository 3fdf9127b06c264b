// Writing entry files; the caller holds "ENTRY".
#pragma once

#include <cstdint>
#include <optional>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_status.h"

namespace korvo::depot {

// Whether the object's ownership of its files is still to be checked, or
// the caller has just refreshed it (Refresh) under the same hold of "ENTRY".
enum class Ownership { kCheck, kRefreshed };

// DepotSaveEntry_internal: builds the object's record and replaces its entry
// file with it. An object the depot handed out is written only over an entry
// file that still holds its segment: otherwise (2, 0, 0) and nothing is
// written, so that a removed entry does not come back and a reused name is
// not overwritten. A record larger than the depot reads is refused: (21, 0,
// 3).
// *generation (when given) gets the written file's generation.
KesStatus *DepotSaveEntry_internal(KesStatus *status, Depot *depot, DepotEntry *entry,
                                   Ownership ownership = Ownership::kCheck,
                                   std::optional<uint64_t> *generation = nullptr);

// DepotSaveEntry, telling the written file's generation.
KesStatus *SaveEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                     std::optional<uint64_t> *generation);

// Logs the line of a save refused because the object lost its file.
void LogDisowned(const char *op, const DepotEntry *entry);

}  // namespace korvo::depot
