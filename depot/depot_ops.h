/* Operations on the entries of a depot: add a segment (or find that it is
 * there), look it up, save its record, change its state, complete it,
 * register and unregister its use, remove it, open its data file, measure
 * it, and ask for a resumed transfer's offset.
 *
 * Locks: DepotAddEntry, DepotGetEntry and DepotRemoveEntry take "DEPOT";
 * DepotUnregisterEntry, DepotSetCheckpointOffset and DepotEntryModified take
 * "DEPOT" then "ENTRY"; the others take "ENTRY".
 *
 * Ownership: DepotAddEntry and DepotGetEntry return objects that stay in the
 * depot's list. DepotCompleteEntry, DepotUnregisterEntry, DepotRemoveEntry
 * and DepotFreeEntry release the object they are given: the pointer is
 * invalid afterwards. The KesFile of the open operations belongs to the
 * caller (KesFileClose); a failed open stores NULL.
 *
 * An entry object whose entry file was removed or taken over by another
 * segment (another process purged it) is never written back: saves and
 * opens report code 2 for it, and its removal leaves the other segment's
 * files alone. */
#ifndef KORVO_DEPOT_DEPOT_OPS_H
#define KORVO_DEPOT_DEPOT_OPS_H

#include <stdint.h>

#include "depot/depot_entry.h"
#include "depot/depot_store.h"
#include "kes/kes_file.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* The entry of the segment when it exists and is complete; a new pending
 * entry with an empty data file when the segment is unknown; NULL when the
 * segment exists in another state, a file of its bucket cannot be read, or
 * anything fails. */
KORVO_EXPORT DepotEntry *DepotAddEntry(Depot *depot, const char *id, const char *version,
                                       DepotPropertyBlock properties);
/* The entry of the segment, or NULL. An object the process already holds is
 * checked against its entry file and refreshed from it. */
KORVO_EXPORT DepotEntry *DepotGetEntry(Depot *depot, const char *id, const char *version);
/* Writes the object's entry record to its entry file, replacing the file in
 * one step. */
KORVO_EXPORT KesStatus *DepotSaveEntry(KesStatus *status, Depot *depot, DepotEntry *entry);
/* Sets the state and saves when it differs; code 0 when nothing changed. */
KORVO_EXPORT KesStatus *DepotEntryChangeState(KesStatus *status, Depot *depot, DepotEntry *entry,
                                              int32_t state);
/* Marks the entry complete, extends its deadline to `deadline` (never
 * shortens it), counts one more holder, saves, and releases the object.
 * The result is the save's status. */
KORVO_EXPORT KesStatus *DepotCompleteEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                                           uint32_t deadline);
/* Releases the object; its files stay. */
KORVO_EXPORT KesStatus *DepotFreeEntry(KesStatus *status, Depot *depot, DepotEntry *entry);
/* Counts one holder less; at exactly 0 the entry is removed as
 * DepotRemoveEntry does, otherwise it is saved as complete. Releases the
 * object. */
KORVO_EXPORT KesStatus *DepotUnregisterEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                                             uint8_t force);
/* Removes the entry's data file and then its entry file, when its
 * reference_count is 0 or `force` is set; releases the object either way.
 * An entry file stays as long as its data file could not be removed. */
KORVO_EXPORT KesStatus *DepotRemoveEntry(KesStatus *status, Depot *depot, DepotEntry *entry,
                                         uint8_t force);
/* Opens the data file for reading, counts the open and saves the access
 * time. */
KORVO_EXPORT KesStatus *DepotFileOpenForRead(KesStatus *status, Depot *depot, DepotEntry *entry,
                                             KesFile *file);
/* Opens the data file for reading and writing (emptied when `truncate` is
 * set), counts the open and saves access and modification time. */
KORVO_EXPORT KesStatus *DepotFileOpenForWrite(KesStatus *status, Depot *depot, DepotEntry *entry,
                                              KesFile *file, uint8_t truncate);
/* Sets entry->size to the data file's size. */
KORVO_EXPORT KesStatus *DepotSetSegmentSize(KesStatus *status, Depot *depot, DepotEntry *entry);
/* Sets entry->size and *size to the data file's size. */
KORVO_EXPORT KesStatus *DepotEntryGetFileSize(KesStatus *status, Depot *depot, DepotEntry *entry,
                                              uint64_t *size);
/* The offset at which a resumed transfer of the segment continues: when the
 * entry's last open for writing happened at `time`, *offset gets the data
 * file's size; otherwise *offset is left alone. Code 2 when there is no
 * such entry. Sets nothing. */
KORVO_EXPORT KesStatus *DepotSetCheckpointOffset(KesStatus *status, Depot *depot, const char *id,
                                                 const char *version, uint32_t time,
                                                 uint64_t *offset);
/* True when the entry exists and its last open for writing did not happen
 * at `time`. */
KORVO_EXPORT uint8_t DepotEntryModified(Depot *depot, const char *id, const char *version,
                                        uint32_t time);

KORVO_END_DECLS

#endif
