/* Building stream keys and reading a distribution's checkpoint: the
 * korvo_stream_key_ and korvo_progress_ families.
 *
 * A stream key (stream_key.h) is byte 0 the stream type, byte 1 zero, byte 2
 * the progress flag (1: keep a progress record, 2: none), then the
 * distribution id, optionally a comma and more text, and a NUL that the
 * key's length counts. One more zero byte follows behind the length.
 *
 *   StreamKey *key = korvo_stream_key_new(NET_STREAM_NETWORK, 1, "dist-7", NULL);
 *   NetStream *stream = net_stream_open(key);
 *   ...
 *   net_stream_close(stream);
 *   stream_key_delete(key);      after the stream: it may read the key
 *
 * Ownership: the keys are the caller's, released with stream_key_delete.
 * Nothing here keeps a pointer to what it was given.
 *
 * Failures: the key builders never raise; they return NULL for what cannot
 * make a valid key (see each function) and when memory is exhausted.
 * korvo_progress_checkpoint raises what reading a progress record raises.
 *
 * Threads: no state is shared; a key is used by one thread at a time.
 */
#ifndef KORVO_STREAM_KORVO_STREAM_KEY_BUILDER_H
#define KORVO_STREAM_KORVO_STREAM_KEY_BUILDER_H

#include <stddef.h>
#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/** A key for a stream of `type` (NET_STREAM_..., net_stream.h) of the
 * distribution `dist_id`, keeping progress when `keep_progress` is nonzero.
 * `source`, when not NULL, follows the id after a comma: the directory of a
 * NET_STREAM_DIRECTORY stream, the comma-separated data files of a
 * NET_STREAM_FILES stream (korvo_stream_key_new_files builds those from an
 * array). NULL for a type that opens no stream (0, 5, above 11), a NULL or
 * empty id, an id holding a comma (the stream would cut it there), or a key
 * longer than 2^31 - 1 bytes. */
KORVO_EXPORT StreamKey *korvo_stream_key_new(int32_t type, int32_t keep_progress,
                                             const char *dist_id, const char *source);

/** A NET_STREAM_FILES key of the distribution `dist_id` reading the `count`
 * data files of `paths`, in that order: the same bytes as
 * file_stream_key_new(keep_progress, count + 1, dist_id, paths[0], ...).
 * NULL for a NULL or empty id or path, an id or path holding a comma (the
 * list is comma-separated), `paths` NULL with a nonzero count, or a key
 * longer than 2^31 - 1 bytes. */
KORVO_EXPORT StreamKey *korvo_stream_key_new_files(int32_t keep_progress, const char *dist_id,
                                                   const char *const *paths, size_t count);

/** The checkpoint of the distribution `dist_id`: the bytes its progress
 * record ("<work dir>/mstat/<id>.mds", mstat.h) says were received and
 * saved ("c_len"). Returns 1 and stores them in *bytes when the record
 * exists (0 when it holds no valid "c_len"); returns 0 and stores 0 when
 * there is no record, the id is NULL or holds a '/', or the progress
 * directory belongs to another account. Raises message 35 for a record that
 * does not decode, 19 for one that cannot be read. */
KORVO_EXPORT int32_t korvo_progress_checkpoint(const char *dist_id, int64_t *bytes);

KORVO_END_DECLS

#endif
