/* Copying the rest of a segment from its data file straight into an output
 * file, inside the kernel, instead of reading it in chunkSize pieces. A
 * method that writes each segment to a file of its own calls it after it
 * wrote what a positive read handed out:
 *
 *   int32_t n = net_stream_read(stream, &data);
 *   if (n > 0) {
 *       int32_t i = net_stream_read_segment(stream);
 *       write_at(output[i], position[i], data, n);
 *       position[i] += n;
 *       position[i] += net_stream_copy_segment(stream, fd[i], position[i],
 *                                              size[i] - position[i], NULL, NULL);
 *   }
 *
 * and goes on reading as before: the next read hands out what the copy did
 * not take (everything, when the copy was refused), or returns the 0 that
 * ends the segment's file. The progress record counts the copied bytes as
 * the reads would have: a checkpoint after every piece of at most
 * NET_STREAM_COPY_PIECE bytes, each saved only once the piece is in the
 * output, so that a process killed during the copy resumes from the last
 * piece.
 *
 * Ownership: nothing is allocated; `out` stays the caller's.
 * Threads: the thread that reads the stream. */
#ifndef KORVO_STREAM_COPY_SEGMENT_H
#define KORVO_STREAM_COPY_SEGMENT_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "stream/net_stream.h"

KORVO_BEGIN_DECLS

/* The most one piece of an in-kernel copy moves between checkpoints. */
#define NET_STREAM_COPY_PIECE (8 * 1024 * 1024)

/* Called after each piece with the bytes this call copied so far; a
 * nonzero answer stops the copy there. */
typedef int32_t (*NetStreamCopyProgress)(void *context, int64_t copied);

/* Copies what is left of the segment whose file the last positive read came
 * from, but no more than `most` bytes, into the open file `out`, from byte
 * `at` on (the descriptor's own position is left alone), and returns the
 * bytes copied. 0 when there is
 * nothing to copy this way: a NULL stream, not a file-kind stream, no file
 * open, nothing left, an output the kernel will not copy into, or a data
 * file or file system that refuses an in-kernel copy (a FIFO, a file of
 * /proc, different file systems); fewer than left when the data file ended
 * early or `progress` stopped the copy. In every case the next
 * net_stream_read goes on from the first byte not copied, with the same
 * result as if the segment had been read. Raises "The file <path> changed
 * while segment <id>^<version> was copied from it." when the data file's
 * size or times changed between the first piece and the last of a copy that
 * reached the segment's end or `most` (its bytes stay counted: the caller
 * discards the segment's output). A same-size rewrite within one tick of
 * the file system's clock shows only where the kernel gives file times a
 * finer grain once they were asked for (Linux 6.13 and later) or through a
 * digest. */
KORVO_EXPORT int64_t net_stream_copy_segment(NetStream *stream, int32_t out, int64_t at,
                                             int64_t most, NetStreamCopyProgress progress,
                                             void *context);

KORVO_END_DECLS

#endif
