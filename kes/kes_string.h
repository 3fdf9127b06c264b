/* String operations of the Kes layer: the C library's string functions with
 * null rules of their own, so that callers need not test pointers first.
 * Strings are NUL-terminated and treated as bytes (multibyte text passes
 * through unchanged). The only allocating operation is KesStringDup, whose
 * copy comes from the Kes heap and is released with KesMemoryFree. Results
 * that point into a string point into the caller's own text.
 *
 * Threads: any thread; nothing is shared.
 */
#ifndef KORVO_KES_KES_STRING_H
#define KORVO_KES_KES_STRING_H

#include <stddef.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Comparisons order a NULL before nothing: a NULL `a` gives 1, else a NULL
 * `b` gives -1 (so two NULLs give 1); otherwise the C library's result. The
 * case-insensitive forms fold ASCII letters only, whatever the locale. */
KORVO_EXPORT int KesStringCmp(const char *a, const char *b);
KORVO_EXPORT int KesStringNCmp(const char *a, const char *b, size_t n);
KORVO_EXPORT int KesStringICmp(const char *a, const char *b);
KORVO_EXPORT int KesStringNICmp(const char *a, const char *b, size_t n);

/* Appends `src` to `dst` and returns `dst`; a NULL `dst` gives NULL, a NULL
 * `src` leaves `dst` unchanged. KesStringNCat appends at most `n` bytes of
 * `src` and always a terminator. */
KORVO_EXPORT char *KesStringCat(char *dst, const char *src);
KORVO_EXPORT char *KesStringNCat(char *dst, const char *src, size_t n);

/* Copies `src` into `dst` and returns `dst`; a NULL `dst` gives NULL, a NULL
 * `src` makes `dst` the empty string. KesStringNCpy is strncpy: it pads with
 * zeros up to `n` bytes and writes no terminator when `src` has `n` bytes or
 * more; with n == 0 it writes nothing at all. */
KORVO_EXPORT char *KesStringCpy(char *dst, const char *src);
KORVO_EXPORT char *KesStringNCpy(char *dst, const char *src, size_t n);

/* A copy of `s` on the Kes heap (release it with KesMemoryFree); NULL when
 * `s` is NULL or memory is exhausted. */
KORVO_EXPORT char *KesStringDup(const char *s);

/* Length in bytes; 0 for NULL. */
KORVO_EXPORT size_t KesStringLen(const char *s);

/* First or last occurrence of the byte `c` in `s`; NULL when `s` is NULL. */
KORVO_EXPORT char *KesStringChr(const char *s, int c);
KORVO_EXPORT char *KesStringRChr(const char *s, int c);
/* strstr and strpbrk; NULL when either argument is NULL. */
KORVO_EXPORT char *KesStringStr(const char *haystack, const char *needle);
KORVO_EXPORT char *KesStringStrpbrk(const char *s, const char *set);
/* strcspn: a NULL `s` gives (size_t)-1, a NULL `set` the length of `s`. */
KORVO_EXPORT size_t KesStringStrcspn(const char *s, const char *set);
/* strspn: a NULL `s` gives (size_t)-1, a NULL `set` 0. */
KORVO_EXPORT size_t KesStringStrspn(const char *s, const char *set);

KORVO_END_DECLS

#endif
