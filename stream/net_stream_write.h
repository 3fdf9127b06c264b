/* Writing through a net stream: a method sends data, or a whole file, back
 * up. On a file-list stream (NET_STREAM_FILES) the data goes into the file
 * "<work dir>/korvo/<distribution id>", created read-only for its owner; on
 * any other stream it goes up the gateway channel (runtime/gateway.h) in
 * chunks of the size the gateway grants, each answered before the next is
 * sent, so at most one chunk is in flight.
 *
 *   if (net_stream_write_begin(stream) == 0) {    // asks for a window
 *       net_stream_write(stream, header, header_length);
 *       net_stream_write(stream, body, body_length);
 *       net_stream_write_end(stream);             // the last chunk, then the end
 *   }
 *   net_stream_send_file(stream, "/var/log/install.log", 0);  // all of it at once
 *
 * A negative result is the gateway's refusal code (or -1: no channel, a
 * channel failure, no output file). Whenever the gateway refuses (at the
 * begin, at a chunk, at the last chunk) the library has already sent the
 * end of the transfer, so the gateway never waits for the rest; the
 * caller's next step is net_stream_write_end or net_stream_close.
 *
 * Ownership: the data handed to a write stays the caller's. The stream's
 * chunk buffer and output file belong to the stream (released by
 * net_stream_write_end and net_stream_close).
 *
 * Failures: file errors raise catalog messages (raise.h): 11 (a file to
 * send cannot be opened or is no regular file), 19 (it cannot be read), 23
 * (the seek to the offset fails), 21 (the output file of a file-list
 * stream cannot be written). Nothing else raises.
 *
 * Threads: a stream is written by one thread at a time; the channel
 * serialises its own use, but two threads writing streams at once would mix
 * their chunks into one transfer. */
#ifndef KORVO_STREAM_NET_STREAM_WRITE_H
#define KORVO_STREAM_NET_STREAM_WRITE_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "stream/net_stream.h"

KORVO_BEGIN_DECLS

/* Starts a transfer. A file-list stream creates its output file (chunks of
 * 16384 bytes); any other stream asks the gateway for a window and takes the
 * granted chunk size. Returns 0; -1 when the output file cannot be made
 * (the reason is logged) or the channel fails; the gateway's negative code
 * when it refuses (the end of the transfer is then sent). */
KORVO_EXPORT int32_t net_stream_write_begin(NetStream *stream);

/* Adds `length` bytes to the transfer; each chunk that fills is sent (and
 * answered) or written at once. Returns `length`, or the gateway's negative
 * code when it refused a chunk (the end of the transfer is then sent; the
 * bytes not yet placed are dropped). -1 for a stream that was not begun, a
 * negative length, NULL data with a positive length, or a window of 0
 * bytes that cannot take data. */
KORVO_EXPORT int32_t net_stream_write(NetStream *stream, const void *data, int32_t length);

/* Sends (or writes) the bytes still waiting as the last chunk, then the end
 * of the transfer (also after a refused last chunk), and releases the chunk
 * buffer; a file-list stream closes its output file. Returns 0, or the
 * gateway's negative code for the last chunk. */
KORVO_EXPORT int32_t net_stream_write_end(NetStream *stream);

/* Sends the file at `path` from byte `offset` (0 or less: from its start;
 * past its end: nothing) to its end: begin, the file's bytes in chunks of
 * the granted size, end. Returns 0 or the first negative result of the
 * three steps. File errors raise (see above); the transfer is then ended
 * before the message reaches the caller. */
KORVO_EXPORT int32_t net_stream_send_file(NetStream *stream, const char *path, int64_t offset);

KORVO_END_DECLS

#endif
