/* Disk space accounting of a depot handle, in whole kilobytes of 1024 bytes
 * rounded up. A handle made with a limit keeps an account of what writers
 * reserved against it (limit 0: no account); the account is the handle's
 * own, starts full, and is never stored. DepotGetPermStorage measures the
 * data files inside the depot directory. Nothing here allocates for the
 * caller. */
#ifndef KORVO_DEPOT_DEPOT_SPACE_H
#define KORVO_DEPOT_DEPOT_SPACE_H

#include <stdint.h>

#include "depot/depot_store.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Bytes to kilobytes, rounded up. */
KORVO_EXPORT uint64_t ConvertDataSize(uint64_t bytes);
/* Takes `kb` from the account: 0, or (26, 0, 0) when it does not fit, which
 * changes nothing. */
KORVO_EXPORT KesStatus *DepotReserveDiskSpace(KesStatus *status, Depot *depot, uint32_t kb);
/* Gives `kb` back to the account (with no upper bound). */
KORVO_EXPORT void DepotUnreserveDiskSpace(Depot *depot, uint32_t kb);
/* Gives back what the segment did not use: its entry's size less the size
 * of its data file, when the file is the smaller. An unknown segment gives
 * 0. */
KORVO_EXPORT KesStatus *DepotAdjustReservedSpace(KesStatus *status, Depot *depot, const char *id,
                                                 const char *version);
/* Adds to *total the kilobytes of every entry's data file that lies in the
 * depot directory. The enumerated objects stay in the handle's list. */
KORVO_EXPORT KesStatus *DepotGetPermStorage(KesStatus *status, Depot *depot, uint32_t *total);

KORVO_END_DECLS

#endif
