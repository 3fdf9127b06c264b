/* Building TOCs and segment descriptions without touching sequences: the
 * korvo_toc_ and korvo_segment_ families. A TOC here is the PropertiesList
 * that net streams take (net_stream_save_modified_toc): one segment's
 * Properties per element, in transfer order. A TOC file is a property file
 * in the plain layout whose key "j_toc" holds that list, as
 * `korvo_gateway --make-toc` writes it.
 *
 *   PropertiesList *toc = properties_list_new();
 *   korvo_toc_add_segment(toc, "kernel.img", "1", 3000000);
 *   Properties *notes = korvo_segment_new("notes.txt", "1", 20);
 *   properties_put_string_dup(notes, SEGMENT_LOCATION_KEY, "/srv/notes.txt");
 *   korvo_toc_append(toc, notes);      the TOC takes the properties over ...
 *   korvo_properties_destroy(notes);   ... and the empty header is freed
 *   korvo_toc_save(toc, "dist.toc");
 *   korvo_toc_destroy(toc);
 *
 * Ownership: korvo_segment_new and korvo_toc_load return headers of the
 * runtime's allocator that the caller owns and releases with
 * korvo_properties_destroy / korvo_toc_destroy. An element pointer that
 * korvo_toc_add_segment returns belongs to the TOC and stays valid until the
 * TOC's buffer moves (the next append) or the TOC is freed.
 * korvo_toc_append takes over the properties of the list it is given and
 * leaves that list empty; korvo_toc_append_dup copies them.
 *
 * Failures: NULL arguments give NULL or -1 and change nothing. Exhausted
 * memory raises a runtime error; file and format failures raise catalog
 * messages (raise.h): 11, 12, 19, 21, 34, 35 as property files do
 * (property_files.h), 36 for a file without "j_toc", 37 when "j_toc" holds
 * something else than a list of segments. A raising builder leaves the TOC
 * as it was.
 *
 * Threads: a TOC is used by one thread at a time, as any property list.
 */
#ifndef KORVO_RECORDS_KORVO_TOC_BUILDER_H
#define KORVO_RECORDS_KORVO_TOC_BUILDER_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/** A new segment description: a list holding "id" and "version" (strings)
 * and "size" (long), in that order, which the caller owns
 * (korvo_properties_destroy). NULL when `id` or `version` is NULL or `size`
 * is negative. Raises a runtime error when memory is exhausted. */
KORVO_EXPORT Properties *korvo_segment_new(const char *id, const char *version, int32_t size);

/** Appends a segment with "id", "version", "size" and "offset" 0 to `toc`
 * and returns it: the element belongs to the TOC and stays valid until the
 * next append to it. NULL (nothing appended) when an argument is NULL or
 * `size` negative; exhausted memory raises a runtime error and leaves the
 * TOC as it was. */
KORVO_EXPORT Properties *korvo_toc_add_segment(PropertiesList *toc, const char *id,
                                               const char *version, int32_t size);

/** Moves the properties of `segment` into a new element at the end of
 * `toc` and leaves `segment` an empty list (its header stays the caller's:
 * free a korvo_segment_new header with korvo_properties_destroy). Returns
 * the element's index; -1 for a NULL argument or `segment` being an element
 * of `toc` itself, changing nothing. Exhausted memory raises a runtime error
 * and leaves both lists as they were. */
KORVO_EXPORT int32_t korvo_toc_append(PropertiesList *toc, Properties *segment);

/** Appends a deep copy of `segment`; the caller keeps `segment`. Returns the
 * element's index, -1 for a NULL argument. A failed copy raises and leaves
 * the TOC as it was. */
KORVO_EXPORT int32_t korvo_toc_append_dup(PropertiesList *toc, const Properties *segment);

/** The TOC of the TOC file at `path` (plain layout, the list under
 * "j_toc"), in a new header that the caller owns (korvo_toc_destroy). NULL
 * for a NULL path. Raises what properties_load raises (11, 19, 35), 36 when
 * the file has no "j_toc", 37 when "j_toc" is not a list of lists. */
KORVO_EXPORT PropertiesList *korvo_toc_load(const char *path);

/** Writes `toc` to a TOC file at `path` (plain layout, the list under
 * "j_toc"), replacing the file in one step as properties_save does. Nothing
 * for a NULL argument. Raises what properties_save raises (12, 21, 34). */
KORVO_EXPORT void korvo_toc_save(const PropertiesList *toc, const char *path);

/** Releases a TOC header of the runtime's allocator with everything it
 * holds (properties_list_delete, then mg_free). NULL is ignored. */
KORVO_EXPORT void korvo_toc_destroy(PropertiesList *toc);

/** Releases a property list header of the runtime's allocator with
 * everything it holds (properties_delete, then mg_free). NULL is ignored. */
KORVO_EXPORT void korvo_properties_destroy(Properties *list);

KORVO_END_DECLS

#endif
