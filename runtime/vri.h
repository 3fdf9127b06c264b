/* The internationalisation services the library relies on, answered from the
 * C library's multibyte functions in the calling thread's current locale
 * (LC_CTYPE). Nothing here allocates; vri_strupper works in the caller's
 * buffer. The first argument of each function is a locale context reserved for
 * later use: pass NULL (the current locale). */
#ifndef KORVO_RUNTIME_VRI_H
#define KORVO_RUNTIME_VRI_H

#include <stddef.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Multibyte types of a byte, as vri_mbsbtype reports them. */
#define VRI_MBC_SINGLE 0 /* a character of one byte */
#define VRI_MBC_LEAD 1   /* the first byte of a character of several bytes */
#define VRI_MBC_TRAIL 2  /* a later byte of a character of several bytes */
#define VRI_MBC_ILLEGAL (-1)

/* The type of the byte at `offset` of the NUL-terminated `text`, found by
 * reading the text's characters from its start. In a locale whose characters
 * are all one byte long every byte is VRI_MBC_SINGLE. A byte that begins no
 * valid character, an offset at or past the terminator, a NULL text or a
 * context other than NULL give VRI_MBC_ILLEGAL; the reading continues after an
 * invalid byte as if it were a character of its own. */
KORVO_RUNTIME_EXPORT int vri_mbsbtype(void *context, const char *text, size_t offset);

/* Upper-cases the ASCII letters of `text` in place and returns `text`; other
 * bytes are left as they are. `flags` is reserved and must be 0. A NULL text,
 * a context other than NULL or other flags change nothing. */
KORVO_RUNTIME_EXPORT char *vri_strupper(void *context, int flags, char *text);

KORVO_END_DECLS

#endif
