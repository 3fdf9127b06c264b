/* Copying a segment from its data file straight into an output file, inside
 * the kernel, instead of reading it in chunkSize pieces. A method that
 * writes each segment to a file of its own calls it after a positive read,
 * before it writes what the read handed out:
 *
 *   int32_t n = net_stream_read(stream, &data);
 *   if (n > 0) {
 *       int32_t i = net_stream_read_segment(stream);
 *       int64_t copied = net_stream_copy_segment(stream, fd[i], position[i],
 *                                                size[i] - position[i], NULL, NULL);
 *       if (copied == 0)
 *           write_at(output[i], position[i], data, n), copied = n;
 *       position[i] += copied;
 *   }
 *
 * and goes on reading as before: the next read hands out what the copy did
 * not take (everything, when the copy was refused), or returns the 0 that
 * ends the segment's file. The copy begins with the bytes that read handed
 * out (they are not to be written again), so that the data file and the
 * output line up as for a copy of the whole file. The progress record
 * counts the copied bytes as the reads would have: a checkpoint after every
 * piece of at most NET_STREAM_COPY_PIECE bytes, each saved only once the
 * piece is in the output, so that a process killed during the copy resumes
 * from the last piece.
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

/* Copies the segment whose file the last positive read came from, from the
 * first byte that read handed out to the segment's end but no more than
 * `most` bytes, into the open file `out` from byte `at` on (where those
 * bytes belong; the descriptor's own position is left alone), and returns
 * the bytes now in `out`, the read's included. 0 when nothing was copied
 * this way, and the caller writes the read's bytes itself: a NULL stream,
 * not a file-kind stream, no read before, a bound below what the read
 * handed out, an output the kernel will not copy into, or a data file or
 * file system that refuses an in-kernel copy (a FIFO, a file of /proc,
 * different file systems). Fewer than asked when the data file ended early
 * or `progress` stopped the copy. In every case the next net_stream_read
 * goes on from the first byte not copied, with the same result as if the
 * segment had been read. Raises "The file <path> changed while segment
 * <id>^<version> was copied from it." when the data file's size or times
 * changed between the first piece and the last of a copy that reached the
 * segment's end or `most` (its bytes stay counted: the caller discards the
 * segment's output). A same-size rewrite within one tick of the file
 * system's clock shows only where the kernel gives file times a finer grain
 * once they were asked for (Linux 6.13 and later), or through a digest. */
KORVO_EXPORT int64_t net_stream_copy_segment(NetStream *stream, int32_t out, int64_t at,
                                             int64_t most, NetStreamCopyProgress progress,
                                             void *context);

KORVO_END_DECLS

#endif
