/* Depot entry objects and their entry records.
 *
 * A DepotEntry is the in-memory object for one segment of a depot; callers
 * read its fields directly. Its durable form is the entry file, a tagged
 * text record followed by a zero byte (docs/depot.md gives it byte by byte):
 *   <<id>..</id><version>..</version><reference_count>..</reference_count>
 *   <state>..</state><checksum>..</checksum><deadline>..</deadline>
 *   <location>..</location><properties>(Base64)</properties>>
 * Fields marked "memory only" are not in the record and read back as 0.
 *
 * Ownership: an entry object and its strings and property bytes live on the
 * Kes heap. Objects that a depot operation returns stay in the depot's entry
 * list until released through an operation (DepotFreeEntry and the others
 * of depot_ops.h), DepotEntryFree or DepotFree. DepotEntrySetProperties
 * returns a record text that the caller releases with KesMemoryFree. */
#ifndef KORVO_DEPOT_DEPOT_ENTRY_H
#define KORVO_DEPOT_DEPOT_ENTRY_H

#include <stdint.h>

#include "depot/depot_store.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Values of DepotEntry.state written by the depot; any other value a caller
 * stores is kept. */
typedef enum DepotState {
    DepotStatePending = 0,  /* added; the data file is being written */
    DepotStateComplete = 1, /* the data is complete; may be used and may expire */
    DepotStateInUse = 2     /* taken by a running distribution */
} DepotState;

typedef struct DepotEntry {
    uint64_t size;             /* segment size in bytes (memory only) */
    int32_t reference_count;   /* distributions holding the segment */
    int32_t openCount;         /* opens of the data file through this object (memory only) */
    int32_t writeCount;        /* opens for writing (memory only) */
    uint32_t deadline;         /* may be purged after this time (seconds since 1970, UTC) */
    uint32_t accessTime;       /* last open of the data file (memory only) */
    uint32_t modifyTime;       /* last open for writing (memory only) */
    int32_t checksum;          /* the caller's; never computed or checked */
    int32_t state;             /* a DepotState */
    char *id;                  /* the segment's id */
    char *version;             /* the segment's version */
    char *entryFile;           /* path of the entry file (memory only) */
    char *location;            /* path of the data file */
    unsigned char *properties; /* the caller's property bytes, stored as Base64 */
    uint32_t propertiesLength; /* number of property bytes */
} DepotEntry;

/* The caller's property bytes given to DepotAddEntry: the address of the
 * bytes, then their number. The depot copies them unchanged. */
typedef struct DepotPropertyBlock {
    const void *bytes;
    uint32_t length;
} DepotPropertyBlock;

/* A new zero-filled object (pending, no strings, no properties), not in any
 * depot's list; NULL when memory is exhausted. */
KORVO_EXPORT DepotEntry *DepotEntryNew(void);
/* Takes the object out of the depot's list when it is there, and releases
 * it with everything it owns, under "ENTRY". A failed wait for the lock
 * releases nothing and gives the wait's status. */
KORVO_EXPORT KesStatus *DepotEntryFree(KesStatus *status, Depot *depot, DepotEntry *entry);
/* Builds the entry record of the object: *text gets the record and its zero
 * byte, *length their number of bytes. Code 12 (step 1: the buffer, step 2:
 * growing it), or 21 when the record cannot be filled; nothing is stored
 * then. `depot` is not used. */
KORVO_EXPORT KesStatus *DepotEntrySetProperties(KesStatus *status, Depot *depot, DepotEntry *entry,
                                                char **text, uint32_t *length);
/* Parses a zero-terminated entry record into a new object and adds it to the
 * depot's list (to none when `depot` is NULL). NULL when an element is
 * missing, memory is exhausted, or non-empty properties decode to nothing.
 * The object's entryFile stays NULL. */
KORVO_EXPORT DepotEntry *DepotEntryNewFromToc(Depot *depot, const char *text);

KORVO_END_DECLS

#endif
