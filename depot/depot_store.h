/* The depot handle and the hash of segments into buckets.
 *
 * A depot is one flat directory of entry files ("<bucket>.<n>.xml", the
 * segment's record) and data files ("<bucket>.<n>.dat", its bytes) that every
 * process of the machine may share. A Depot handle gives one process access
 * to one directory. All depots of a machine serialise on the machine-wide
 * locks "DEPOT" (the depot as a whole) and "ENTRY" (entry objects and the
 * writing of entry files), always taken in that order; an enumerator's
 * "ENUM" nests between them.
 *
 * Ownership: DepotNew stores a handle that the caller releases with
 * DepotFree, which also releases every entry object the handle handed out.
 * DepotGetDir's text belongs to the handle. DepotFindBucket returns a new
 * string on the Kes heap (KesMemoryFree). Nothing here raises: failures are
 * KesStatus records, NULL or -1, and trace lines (depot_logger.h). */
#ifndef KORVO_DEPOT_DEPOT_STORE_H
#define KORVO_DEPOT_DEPOT_STORE_H

#include <stdint.h>

#include "kes/kes_list.h"
#include "kes/kes_sem.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Lock rules.
 *
 * The locks are machine-wide recursive mutexes shared by every process and
 * every handle: "DEPOT" (depotLock), "ENUM" (each enumerator's enumLock) and
 * "ENTRY" (entryLock). A thread that holds several took them in the order
 * DEPOT, ENUM, ENTRY, and waits for none of them while it holds the
 * handle's private bookkeeping mutex or the process's directory index (both
 * are taken innermost and held only for in-memory work). Waits have no time
 * limit; none is made while blocked on a file (files are opened without
 * waiting for FIFOs or devices).
 *
 *   DEPOT guards     the set of entries of the directory: adding an entry
 *                    (choosing its number, writing its first record,
 *                    creating its data file), looking one up, removing one,
 *                    the purges' walks, and a handle's dir, availableKb and
 *                    limitKb.
 *   ENUM guards      an enumerator's dirHandle, name by name.
 *   ENTRY guards     every entry file's content: a record is read, changed
 *                    and written back under one hold (so that no count or
 *                    state written by another process is lost), and the
 *                    fields of entry objects that mirror it (reference_count,
 *                    state, checksum, deadline, location, properties) plus
 *                    the memory-only openCount, writeCount, accessTime,
 *                    modifyTime and size; also the release of objects.
 *   entries          is the handle's own: it changes only under the
 *                    handle's private mutex, whichever depot lock the caller
 *                    holds.
 *
 * A pending entry belongs to the process that added it for as long as that
 * process holds the object: it keeps an advisory lock on the entry's data
 * file, which ends with the process. An entry that is pending without such
 * a lock has lost its writer. */
typedef struct Depot {
    KesSem depotLock;     /* "DEPOT": the depot as a whole */
    KesSem entryLock;     /* "ENTRY": entry objects and entry files */
    char *dir;            /* the depot directory (owned); under DEPOT */
    uint32_t availableKb; /* kilobytes not yet reserved; under DEPOT */
    uint32_t limitKb;     /* the limit given to DepotNew; 0: no accounting */
    KesList1 *entries;    /* DepotEntry pointers handed out and not yet released */
} Depot;

/* Entry i is the largest prime not above 2 to the power i + 1. */
KORVO_EXPORT extern const uint32_t PowerOf2Primes[16];
/* The wanted number of buckets (256). */
KORVO_EXPORT extern uint32_t TableSize;
/* The modulus in use: 0 until the first hash, then the largest entry of
 * PowerOf2Primes (from entry 1 up) below TableSize; recomputed only when
 * TableSize drops below it. */
KORVO_EXPORT extern uint32_t NearestPrime;

/* Opens a depot on `dir` (NULL: "depot" in the current directory), creating
 * the directory when it is missing, with an account of `limitKb` kilobytes
 * (0: none). Stores the handle, or NULL on failure:
 *   12: no memory for the handle or its entry list;
 *   the status of creating the "DEPOT" or "ENTRY" lock.
 * A lock abandoned by a process that died is taken over. A directory that
 * cannot be created does not fail the call. */
KORVO_EXPORT KesStatus *DepotNew(KesStatus *status, Depot **depot, const char *dir,
                                 uint32_t limitKb);
/* Releases every entry object of the handle, then the handle. A NULL handle
 * gives code 0. */
KORVO_EXPORT KesStatus *DepotFree(KesStatus *status, Depot *depot);
/* Makes `dir` (NULL: "depot") the handle's directory, creating it when
 * missing: 0, (12, 0, 1) without memory, or the status of the creation. */
KORVO_EXPORT KesStatus *DepotSetDir(KesStatus *status, Depot *depot, const char *dir);
/* The handle's directory (owned by the handle); NULL for a NULL handle. */
KORVO_EXPORT const char *DepotGetDir(const Depot *depot);

/* The bucket number of `text`: a hash of the first half of its bytes modulo
 * NearestPrime. Always code 0. */
KORVO_EXPORT KesStatus *DepotHashFunction(KesStatus *status, const char *text, uint32_t *hash);
/* The 8-digit bucket name ("%08u") of the id joined to the version; NULL
 * when memory is exhausted. */
KORVO_EXPORT char *DepotFindBucket(const char *id, const char *version);
/* The slot in depot->entries of the newest entry object with this id and
 * version, or -1. Takes no lock: callers hold "DEPOT" or "ENTRY". */
KORVO_EXPORT int32_t DepotFindEntryIndex(Depot *depot, const char *id, const char *version);

KORVO_END_DECLS

#endif
