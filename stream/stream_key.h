/* Stream keys: the octet sequence a net stream is opened from.
 *
 *   byte 0   the stream type (NET_STREAM_..., net_stream.h)
 *   byte 1   not read; file_stream_key_new writes 0
 *   byte 2   the progress flag: 1 keeps a progress record, any other value
 *            none (file_stream_key_new writes 2)
 *   byte 3.. NUL-terminated text: the distribution id, optionally a comma and
 *            more (for type 4 the data files, comma-separated; for the other
 *            types the source directory)
 *
 * The library never reads a key beyond its `length`: text that is not
 * terminated within it ends at the length.
 *
 * Ownership: file_stream_key_new returns a key cell and buffer of the
 * runtime's allocator that the caller releases with stream_key_delete.
 * stream_key_get_data points into the caller's key. Nothing here raises;
 * keys are plain values that one thread uses at a time. */
#ifndef KORVO_STREAM_STREAM_KEY_H
#define KORVO_STREAM_STREAM_KEY_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* A type-4 key: 4, 0, the progress flag (1 when `keepProgress` is nonzero,
 * else 2), then the `count` strings, each followed by a comma, the last
 * comma replaced by NUL, and one more zero byte behind the counted length.
 * The first string is the distribution id, the others the data files:
 *
 *   file_stream_key_new(1, 3, "d", "a", "b")  ->  length 9:
 *   04 00 01 'd' ',' 'a' ',' 'b' 00  (and a 00 behind)
 *
 * With count 0 the key has length 3 and its progress byte is the NUL. NULL
 * for a negative count, a NULL string, a key longer than 2^31 - 1 bytes, or
 * when memory is exhausted. */
KORVO_EXPORT StreamKey *file_stream_key_new(int32_t keepProgress, int32_t count, ...);

/* Frees the key's buffer, then the cell. NULL is ignored. */
KORVO_EXPORT void stream_key_delete(StreamKey *key);

/* The key's data: byte 3 for a type-4 key, byte 2 for any other. NULL for a
 * NULL key, a key without a buffer, or one whose length is below that byte's
 * offset (a count-0 key of length 3 gives the zero byte behind it). */
KORVO_EXPORT char *stream_key_get_data(StreamKey *key);

KORVO_END_DECLS

#endif
