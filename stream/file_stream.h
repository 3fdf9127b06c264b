/* File-list streams: the state with which a file-kind net stream (types 4
 * to 11, net_stream.h) walks its list of data files, one per segment, and
 * the read that delivers them. A segment whose TOC "offset" has reached its
 * "size" is skipped; a partial one is read from its offset.
 *
 * The list is text: paths separated by single commas (a path cannot hold a
 * comma). Taking a name cuts the text in place: the comma behind it becomes
 * NUL and `next` moves past it; the last name leaves `next` NULL.
 *
 * What the stream's TOC needs (net_stream_save_modified_toc gives it; the
 * located stream types write these keys themselves, a type-4 caller must):
 * every segment whose file is listed holds "data_path" (string), the listed
 * path byte for byte, and "size" (long), the segment's size in bytes;
 * "offset" (long, default 0) says where a partial segment resumes. A listed
 * file is read for the first segment, in TOC order, whose "data_path" it is
 * and which this stream has not read yet; a name that no such segment holds
 * (no "data_path", another spelling of the path, a name listed twice) is
 * skipped with the log line "korvo: The listed file <path> is the
 * "data_path" of no segment left to read; it is skipped." and that read
 * returns 0.
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

#include "properties/helpers/file_helpers.h"
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
 * buffer stored in *data and returns the count. A segment hands out its
 * bytes from its "offset" to its "size" and no more: a file longer than its
 * segment is read only that far. 0 with *data NULL at the end of a segment
 * (its file is then closed), of the list, or at a name that no segment left
 * to read holds (logged, above). A CDS stream may return a negative stop
 * code (-2, -3). Raises message 11 when a file cannot be opened, 19 when a
 * read fails, 23 when the seek to the segment's offset fails, and "The file
 * <path> ended at byte <b> of the <size> bytes of segment <id>^<version>."
 * when a file ends before its segment's size (its bytes before that were
 * handed out). */
KORVO_EXPORT int32_t file_stream_read(NetStream *stream, char **data);

KORVO_END_DECLS

#endif
