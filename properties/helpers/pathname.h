/* Path-name buffers: fixed 1024-byte, NUL-terminated path texts on the
 * runtime's allocator, with the few text operations the library's file
 * helpers, property files and progress records need. Separators are '/';
 * paths are handed to the system as they are (nothing is localised).
 *
 * Ownership: pathname_new, pathname_clone, pathname_clone_and_append and
 * pathname_build_filename return mg blocks the caller owns (release a
 * buffer with pathname_delete, a built file name with mg_free).
 * pathname_get_name returns a pointer into its argument.
 *
 * Failures: a NULL path to clone raises catalog message 32, a NULL name to
 * append message 33 (raise.h). A text that would not fit a buffer is never
 * cut short: the operation refuses it and says so in its result.
 *
 * Threads: a buffer is used by one thread at a time.
 */
#ifndef KORVO_PROPERTIES_PATHNAME_H
#define KORVO_PROPERTIES_PATHNAME_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Bytes in a path-name buffer, its NUL included. */
#define PATHNAME_BUFFER_SIZE 1024

/* The longest path and the longest path component the helpers handle:
 * PATHNAME_BUFFER_SIZE for both. */
KORVO_EXPORT int32_t pathname_max_length(void);
KORVO_EXPORT int32_t pathname_max_component_length(void);

/* A new buffer holding the empty text; NULL when memory is exhausted. */
KORVO_EXPORT char *pathname_new(void);
/* A new buffer holding a copy of `path`. A NULL path raises message 32; a
 * path of PATHNAME_BUFFER_SIZE bytes or more (it would not fit with its
 * NUL), or exhausted memory, gives NULL. */
KORVO_EXPORT char *pathname_clone(const char *path);
/* Releases a buffer; NULL is ignored. */
KORVO_EXPORT void pathname_delete(char *buffer);

/* Appends a '/' unless the text already ends in one (so the empty text
 * becomes "/"), then `name`: "dir" + "f" and "dir/" + "f" both give "dir/f".
 * Returns 0; -1, with the buffer unchanged, when the result would not fit
 * the buffer or the buffer is NULL. A NULL name raises message 33 after the
 * separator has been added. */
KORVO_EXPORT int32_t pathname_append(char *buffer, const char *name);
/* Appends a '/' unless the text already ends in one; the empty text becomes
 * "/". A NULL buffer, or a full one, is left alone. */
KORVO_EXPORT void pathname_append_separator(char *buffer);
/* Removes trailing '/' characters, but never the text's first character:
 * "/" stays "/", "a//" becomes "a". NULL is ignored. */
KORVO_EXPORT void pathname_remove_separator(char *buffer);
/* The file name of `path`: the text after its last '/'; when it has none,
 * after its last '\'; when it has neither, the path itself. A slash wins
 * over a later backslash ("a\b/x\y" gives "x\y"). NULL gives NULL. */
KORVO_EXPORT const char *pathname_get_name(const char *path);
/* A new block (mg_free), exactly large enough, holding the three texts one
 * after the other; NULL when any of them is NULL or memory is exhausted. */
KORVO_EXPORT char *pathname_build_filename(const char *first, const char *second,
                                           const char *third);
/* pathname_clone(path) followed by pathname_append(copy, name), with their
 * failures; NULL (nothing leaked) when the result would not fit a buffer. */
KORVO_EXPORT char *pathname_clone_and_append(const char *path, const char *name);

KORVO_END_DECLS

#endif
