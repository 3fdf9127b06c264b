/* Path operations of the Kes layer: classifying a path, taking it apart and
 * localising it, on the text alone (nothing is looked up on disk except the
 * current directory in KesPathMakeAbsolute). Callers may write either
 * separator. On this host a path is absolute when it begins with '/', every
 * path is native and localising changes nothing; prefix, name and parent
 * treat '/' and '\' alike.
 *
 * Results are written into the caller's buffer of `size` bytes, cut to
 * size - 1 bytes and always terminated (nothing is written when size is 0);
 * the functions return that buffer, or NULL where stated. The buffer may be
 * the path's own storage, except for KesPathMakeAbsolute of a relative path.
 * Nothing here allocates.
 *
 * Threads: any thread; pure text functions, except that KesPathMakeAbsolute
 * reads the process's current directory.
 */
#ifndef KORVO_KES_KES_PATH_H
#define KORVO_KES_KES_PATH_H

#include <stddef.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* 1 when the path is absolute, else 0; NULL is not absolute. */
KORVO_EXPORT int KesPathIsPathAbsolute(const char *path);
/* 1 when the path is native (the Kes file operations accept it), else 0;
 * NULL is not native. */
KORVO_EXPORT int KesPathIsPrefixNative(const char *path);
/* The path's prefix ("/usr" of "/usr/lib", "\\srv" of "\\srv\share\f", "D:"
 * of "D:\dir\f"); NULL when the path has none (the buffer then holds the
 * empty text), is NULL, or the buffer is NULL or of size 0. */
KORVO_EXPORT char *KesPathGetPrefix(char *buffer, const char *path, size_t size);
/* An absolute form of the path: the path itself when it is absolute, else the
 * current directory, a separator and the path. NULL, and an empty buffer,
 * when the path is NULL or the current directory cannot be read (also when
 * it does not fit in the buffer). */
KORVO_EXPORT char *KesPathMakeAbsolute(char *buffer, const char *path, size_t size);
/* The text after the last separator (either kind); the word "Failure" when
 * the path has no separator or is NULL. NULL only for a NULL buffer or a
 * size of 0. */
KORVO_EXPORT char *KesPathGetName(char *buffer, const char *path, size_t size);
/* The path cut at its last separator (either kind), the separator removed; a
 * path without separator is copied unchanged; a NULL path gives the empty
 * text. NULL only for a NULL buffer or a size of 0. */
KORVO_EXPORT char *KesPathGetParent(char *buffer, const char *path, size_t size);
/* Localises the path in place and returns it; NULL, with the text unchanged,
 * when the path is NULL or not native. */
KORVO_EXPORT char *KesPathLocalize(char *path);

KORVO_END_DECLS

#endif
