/* Which segment a read belongs to. A file-kind stream (types 4 to 11) reads
 * its segments in the order of its file list, which is the order in which
 * they were located (description files in listing order, the directories of
 * "remote.dir" line by line, CD drives in mount order), not the TOC's order.
 * A method that writes each segment to a place of its own asks after every
 * read that returned data:
 *
 *   int32_t n = net_stream_read(stream, &data);
 *   if (n > 0) {
 *       int32_t i = net_stream_read_segment(stream);   // index in the TOC
 *       write_at(output[i], position[i], data, n);
 *       position[i] += n;
 *   }
 *
 * A network stream (type 2) has no file list: the gateway sends the
 * segments that are not complete in TOC order, each ended by a read that
 * returns 0, so the answer there is always -1 and the method counts the
 * 0 reads itself.
 *
 * Ownership: nothing is allocated; the index refers to the stream's own TOC
 * (the one net_stream_save_modified_toc copied, in the caller's order).
 * Threads: the thread that reads the stream. */
#ifndef KORVO_STREAM_READ_SEGMENT_H
#define KORVO_STREAM_READ_SEGMENT_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "stream/net_stream.h"

KORVO_BEGIN_DECLS

/* The index in the stream's TOC of the segment whose data file the last
 * positive read came from: the first segment, in TOC order, whose
 * "data_path" is that file's path. -1 for a NULL stream, a stream without a
 * TOC or file list, a network stream, and between files (before the first
 * read, and after a read that returned 0 or a negative code). */
KORVO_EXPORT int32_t net_stream_read_segment(const NetStream *stream);

KORVO_END_DECLS

#endif
