/* File-list streams: the state with which a file-kind net stream (types 4
 * to 11, net_stream.h) walks its list of data files, one per segment, and
 * the read that delivers them. A segment whose TOC "offset" has reached its
 * "size" is skipped; a partial one is read from its offset.
 *
 * The list is text: paths separated by single commas (a path cannot hold a
 * comma). Taking a name cuts the text in place: the comma behind it becomes
 * NUL and `next` moves past it; the last name leaves `next` NULL.
 *
 * Ownership: file_stream_open returns a stream that net_stream_open
 * completes and net_stream_close releases, with its FileStreamState (the
 * text and the open file). A buffer that file_stream_read stores in *data is
 * the caller's (net_stream_free_buffer, or mg_free).
 *
 * Threads: a stream and its state are used by one thread at a time. */
#ifndef KORVO_STREAM_FILE_STREAM_H
#define KORVO_STREAM_FILE_STREAM_H

#include <stdint.h>

#include "properties/file_helpers.h"
#include "runtime/korvo_export.h"
#include "stream/net_stream.h"

KORVO_BEGIN_DECLS

typedef struct FileStreamState {
    char *next;        /* the part of `text` not yet taken, or NULL */
    char *text;        /* the list's text (owned) */
    FileRecord *file;  /* the file being read, or NULL */
    int32_t downloads; /* index in the TOC of the next CDS download */
} FileStreamState;

/* A new type-4 stream over `text`: the distribution id up to the first comma
 * (`distId`), then the list of data files. `chunkSize` is 16384; no progress
 * record yet (net_stream_open adds it). NULL when memory is exhausted. */
KORVO_EXPORT NetStream *file_stream_open(const char *text);

/* Reads up to `chunkSize` bytes of the current segment's file into a new
 * buffer stored in *data and returns the count. 0 with *data NULL at the end
 * of a file (which is then closed), of the list, or at a name that no TOC
 * segment's "data_path" holds. A CDS stream may return a negative stop code
 * (-2, -3). Raises message 11 when a file cannot be opened, 19 when a read
 * fails, 23 when the seek to the segment's offset fails. */
KORVO_EXPORT int32_t file_stream_read(NetStream *stream, char **data);

KORVO_END_DECLS

#endif
