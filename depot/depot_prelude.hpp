// The openings the depot operations share: the check of their parameters
// with the line that refuses them, and the start of a walk of the entry
// files under "DEPOT".
#pragma once

#include "depot/depot_enum.h"
#include "depot/depot_lock.hpp"
#include "depot/depot_store.h"
#include "depot/depot_trace.hpp"
#include "kes/kes_status.h"

namespace korvo::depot {

// "<op> exit.  Invalid parameter" at level 0: the line of an operation
// refused for a missing parameter.
void LogInvalidParameter(const char *op);

// True when none of `parameters` is NULL; otherwise logs the refusal, fills
// `status` with KES_INVALID and is false.
template <typename... Pointers>
bool Usable(KesStatus *status, const char *op, const Pointers *...parameters) {
    if ((... && (parameters != nullptr)))
        return true;
    LogInvalidParameter(op);
    FillStatus(status, KES_INVALID, 0, 0);
    return false;
}

// A walk of the entry files for `op`, which holds "DEPOT" in `depotHold`;
// NULL when it cannot start, after releasing "DEPOT" and logging "<op>
// exit.  Error <code> creating enumerator" at level 0.
DepotEntryEnum *OpenWalk(KesStatus *status, Depot *depot, LockHold &depotHold, const char *op);

// Ends a walk that OpenWalk started.
void CloseWalk(DepotEntryEnum *walk);

}  // namespace korvo::depot
