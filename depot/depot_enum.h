/* Walking a depot's entry files, and the two purges built on the walk.
 *
 * An enumerator returns one new entry object for every readable entry file
 * of the directory, whichever process wrote it, in the order of the
 * directory listing; files that do not parse are skipped. Every enumerator
 * of every process takes turns on the machine-wide lock "ENUM".
 *
 * Ownership: DepotEnumNew stores an enumerator that the caller releases with
 * DepotEntryEnumDelete. The objects DepotEntryEnumNextElement returns are in
 * the depot's entry list; release them (depot_ops.h) or leave them to
 * DepotFree. */
#ifndef KORVO_DEPOT_DEPOT_ENUM_H
#define KORVO_DEPOT_DEPOT_ENUM_H

#include <stdint.h>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_dir.h"
#include "kes/kes_sem.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct DepotEntryEnum {
    Depot *depot;      /* the depot being walked */
    KesSem enumLock;   /* "ENUM" */
    KesDir *dirHandle; /* the directory being read */
} DepotEntryEnum;

/* Starts a walk. (12, 0, 3) without memory; the status of creating the lock
 * (also when it was abandoned) or of opening the directory; *enumerator is
 * NULL on failure. */
KORVO_EXPORT KesStatus *DepotEnumNew(KesStatus *status, Depot *depot, DepotEntryEnum **enumerator);
/* The next entry, or NULL at the end of the directory or when a file cannot
 * be read (which ends the walk). */
KORVO_EXPORT DepotEntry *DepotEntryEnumNextElement(DepotEntryEnum *enumerator);
/* Ends the walk and releases the enumerator: 0, or the status of a failed
 * wait for the lock (nothing is released then). */
KORVO_EXPORT KesStatus *DepotEntryEnumDelete(KesStatus *status, DepotEntryEnum *enumerator);
/* Removes every entry whose reference_count is 0, every entry when `force`
 * is set. The result is the last removal's status, or 0. */
KORVO_EXPORT KesStatus *DepotPurge(KesStatus *status, Depot *depot, uint8_t force);
/* Removes every complete entry whose deadline lies before now, whatever its
 * reference_count. The result is the last removal's status, or 0. */
KORVO_EXPORT KesStatus *DepotPurgeExpiredEntries(KesStatus *status, Depot *depot);

KORVO_END_DECLS

#endif
