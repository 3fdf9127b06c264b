/* Locating a distribution's segments in directories: the description files
 * ("*.toc", bare layout, and "*.itc", marked layout) that say which segment
 * a directory holds, and the CD drives whose roots hold such files.
 *
 * A description file holds a property list whose key "segment" holds the
 * segment's properties: at least "id", "version" and "location" (strings).
 * Its data file lies in the same directory, named by the last component of
 * "location" (the text after its last '/'). A segment of the TOC is located
 * when a description names its id and version and the data file is there:
 * its own properties get "data_path" and "dat_file" (the data file's path)
 * and "size" (the data file's size), it is marked (`marked`, and the TOC's
 * `marked_count` is raised), and its path is appended to `paths` when given.
 * Marked segments are not searched again.
 *
 * The directory text keeps its old rules: one trailing '/' or '\' is
 * dropped, and a name that is no directory is tried once more with '\'
 * appended (a drive name such as D: becomes its root). Paths are built in
 * 1024-byte path-name buffers: a directory, description or data path that
 * would not fit is passed over (logged at level 1), never cut.
 *
 * CD drives are the mounted file systems of type iso9660 or udf in the
 * mount table (KORVO_MOUNT_TABLE names the file, default /proc/self/mounts),
 * searched in the table's order until every segment is marked.
 *
 * Ownership: the strings appended to `paths` are the caller's (mg blocks;
 * vem_free_generic with TC_Vem_Types_StringList frees them with the list).
 * The TOC stays the caller's.
 *
 * Failures are raised as catalog messages: a description file that cannot
 * be loaded (11, 19, 35), one without "segment", "id" or "version" (36), a
 * matching one without "location" (36), a data file larger than a segment
 * can say (24). Paths located before the failure stay written.
 *
 * Threads: a TOC is used by one thread at a time; the searches keep no
 * state. */
#ifndef KORVO_STREAM_SEGMENT_SEARCH_H
#define KORVO_STREAM_SEGMENT_SEARCH_H

#include "records/korvo_toc.h"
#include "runtime/korvo_export.h"
#include "runtime/stypes.h"

KORVO_BEGIN_DECLS

/* Marks every unmarked segment of `toc` that `directory` holds. NULL
 * arguments (`paths` aside, which may be NULL) do nothing. */
KORVO_EXPORT void net_stream_search_endpoint_depot(Toc *toc, const char *directory,
                                                   StringList *paths);

/* Searches the root of every CD drive, in mount-table order, until every
 * segment is marked. A mount table that cannot be read is logged at level 1
 * and counts as no drive. */
KORVO_EXPORT void net_stream_search_cd_drives(Toc *toc, StringList *paths);

KORVO_END_DECLS

#endif
