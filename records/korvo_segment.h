/* Segments: the typed view of one segment's property list. A Segment's
 * fields are read once, when the view is made, from the keys of
 * korvo_keys.h; its strings and its checksum are not copies but point into
 * the values of `properties` and live as long as that list (and as long as
 * the properties under those keys are not replaced or removed).
 *
 * Fields, their keys and what an absent key gives:
 *   id "id", version "version"         string; must exist (message 36)
 *   location "location"                string, NULL
 *   size "size", offset "offset",
 *   ctime "ctime", mtime "mtime"       32-bit signed ("long"), 0
 *   checksum "checksum"                octet list, NULL
 *   disposable "disposable", is_result "is_result",
 *   is_collection "is_collection", del_at_src "del_at_src"   boolean, 0
 *   cds_manager, cds_packageid, cds_destination, cds_username,
 *   cds_password (keys of the same names)                    string, NULL
 * A value of another type under any of these keys raises message 37 with
 * the key. The keys are read in this order, so when several are faulty the
 * first of them raises: id, version, location, size, offset, ctime, mtime,
 * checksum, disposable, is_result, is_collection, del_at_src, cds_manager,
 * cds_packageid, cds_destination, cds_username, cds_password.
 *
 * `owned_data` is never set by the library: a caller may attach an mg block,
 * which segment_delete (and toc_free_buffer for a TOC's segments) frees.
 * `marked` is the stream code's mark of a segment it has dealt with.
 *
 * Ownership: every function here that returns a Segment returns a new mg
 * block that the caller owns.
 *   - segment_from_properties borrows the list: release the view with
 *     mg_free (after freeing its owned_data, if one was attached), never
 *     with segment_delete.
 *   - segment_new_from_properties and segment_clone make a deep copy of the
 *     list that the segment owns: release it with segment_delete. So does a
 *     segment_new record whose `properties` the caller has handed over (an
 *     mg header, released with properties_delete then mg_free).
 * Failures are raised (raise.h): messages 36 and 37 as above, deep-copy
 * failures as the runtime reports them, exhausted memory as a runtime
 * error. Nothing is left allocated when a function raises.
 *
 * Threads: a Segment is used by one thread at a time, as the list it views.
 */
#ifndef KORVO_RECORDS_KORVO_SEGMENT_H
#define KORVO_RECORDS_KORVO_SEGMENT_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"
#include "runtime/stypes.h"

KORVO_BEGIN_DECLS

typedef struct Segment {
    Properties *properties;
    char *id;
    char *version;
    OctetList *checksum;
    int32_t ctime;
    int32_t mtime;
    char *location;
    int32_t offset;
    int32_t size;
    uint8_t disposable;
    uint8_t is_result;
    uint8_t is_collection;
    void *owned_data;
    uint8_t del_at_src;
    uint8_t marked;
    char *cds_manager;
    char *cds_packageid;
    char *cds_destination;
    char *cds_username;
    char *cds_password;
} Segment;

/* A zeroed record, or NULL when memory is exhausted. */
KORVO_EXPORT Segment *segment_new(void);

/* A view that borrows `properties` (NULL for NULL). */
KORVO_EXPORT Segment *segment_from_properties(Properties *properties);

/* A view over a deep copy of `properties`, which the segment owns (NULL for
 * NULL). The caller's list is not touched. */
KORVO_EXPORT Segment *segment_new_from_properties(const Properties *properties);

/* A view over a deep copy of the segment's properties, which the new
 * segment owns; `owned_data` and `marked` are not carried over. NULL for
 * NULL and for a segment without properties. */
KORVO_EXPORT Segment *segment_clone(const Segment *segment);

/* Frees the segment's properties with everything they hold (when set), its
 * owned_data (when set) and the record. Only for segments that own their
 * properties. NULL is ignored. */
KORVO_EXPORT void segment_delete(Segment *segment);

KORVO_END_DECLS

#endif
