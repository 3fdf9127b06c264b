/* Wildcard matching of names, for property values and directory listings.
 * A pattern is made of bytes: '*' stands for any run of characters, '?' for
 * any one character, "[...]" for one character of a set (members, ranges
 * "a-z" compared as signed bytes, a leading '^' negates, "\]" makes ']' a
 * member, the end of the pattern closes an open set), and a backslash makes
 * the next character literal unless the locale's multibyte rules say the
 * backslash is the trailing byte of a double-byte character. Nothing is
 * allocated for the caller.
 *
 * Threads: any thread; nothing is shared.
 */
#ifndef KORVO_PROPERTIES_MATCH_H
#define KORVO_PROPERTIES_MATCH_H

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Results of match. */
#define KES_MATCH_YES 0
#define KES_MATCH_NO 1
#define KES_MATCH_NULL_ARGUMENT (-1)
#define KES_MATCH_BAD_PATTERN (-2)

/* Whether `name` fits `pattern`: KES_MATCH_YES or KES_MATCH_NO;
 * KES_MATCH_NULL_ARGUMENT when either is NULL. KES_MATCH_BAD_PATTERN when,
 * before any star, matching reaches a set cut off by the end of the pattern
 * ("[", "[^", "[a-") while the name still has characters; behind a star such a
 * set is simply no match. Once the name is used up, only an empty rest of the
 * pattern or a single '*' matches: "**" does not match the empty name, and a
 * star never stands for the empty end of a name unless it ends the pattern. */
KORVO_EXPORT int match(const char *pattern, const char *name);

KORVO_END_DECLS

#endif
