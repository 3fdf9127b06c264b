/* TOCs: the typed view of a distribution's table of contents, a
 * PropertiesList with one segment's Properties per element. A Toc owns its
 * list and holds one Segment view (korvo_segment.h) per element; element i
 * of `segments` borrows element i of `list`. `count` is the list's length
 * when the record was made; `segments` is NULL when it is 0. The views point
 * into the list's buffer: adding elements to `list` afterwards may move that
 * buffer and leave them dangling.
 *
 * `marked_count` counts the segments whose `marked` byte the stream code has
 * set; a new record starts at 0 with no segment marked.
 *
 * Every segment element must hold "id" and "version" (message 36 names the
 * missing key) and the segment keys with their value types (message 37);
 * the elements are read in list order, so the first faulty element raises.
 *
 * Ownership: every Toc returned here is a new mg block that the caller owns
 * and releases with toc_delete, which also frees the list (an mg header:
 * properties_list_delete, then mg_free), every segment record and every
 * segment's owned_data. A function that raises leaves nothing allocated;
 * toc_from_properties then leaves the list with the caller.
 *
 * Threads: a Toc is used by one thread at a time, as the list it views.
 */
#ifndef KORVO_RECORDS_KORVO_TOC_H
#define KORVO_RECORDS_KORVO_TOC_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "records/korvo_segment.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct Toc {
    int32_t count;
    Segment **segments;
    PropertiesList *list;
    int32_t marked_count;
} Toc;

/* A TOC that takes over `list` (an mg header; no copy) and views each of its
 * elements. NULL for NULL. */
KORVO_EXPORT Toc *toc_from_properties(PropertiesList *list);

/* A TOC over a deep copy of `list`; the caller's list is not touched. NULL
 * for NULL. */
KORVO_EXPORT Toc *toc_new_from_properties(const PropertiesList *list);

/* A TOC over a deep copy of the TOC's list with fresh segments: no segment
 * marked, no owned_data, marked_count 0. NULL for NULL and for a TOC without
 * a list. */
KORVO_EXPORT Toc *toc_clone(const Toc *toc);

/* Frees each segment's owned_data, each segment record and the `segments`
 * array, and sets count, segments and marked_count to zero; the list and the
 * record stay. NULL is ignored. */
KORVO_EXPORT void toc_free_buffer(Toc *toc);

/* toc_free_buffer, then the list with everything it holds, then the record.
 * NULL is ignored. */
KORVO_EXPORT void toc_delete(Toc *toc);

KORVO_END_DECLS

#endif
