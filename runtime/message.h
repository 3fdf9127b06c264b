/* Message entries: building one from a catalog message and its arguments,
 * and rendering one as text.
 *
 * Building walks the default text from one '%' to the next. "%%" is a
 * literal. Any other '%' takes the next argument (arguments are taken in the
 * order the placeholders appear, not by their numbers): after the '%' come
 * digits and points, then '$', then the conversion letter. The letters d, o,
 * u, x and X take a 32-bit number and store it printed with "%u" (so -1 is
 * stored as "4294967295"); s takes a string and stores a copy, except that
 * "$errno" stores the C library's text for the current errno ("errno=%d"
 * when it has none); a NULL string is stored as "(null)". Any other letter,
 * or a missing '$', makes the entry a format error: default text "Format has
 * illegal types (%1$s)", the faulty text as its only argument, no catalog,
 * number 0. The argument list is {count, count, array}: exactly as many
 * slots as strings.
 *
 * Rendering replaces the n-th placeholder "%N$x" that appears by the n-th
 * argument (any letter x; the arguments are strings already), whatever its
 * number N, since the arguments were stored in that order; "%%" becomes '%'.
 * A placeholder without its argument is kept as it stands.
 *
 * Threads: an entry is used by one thread at a time; building and rendering
 * different entries may run on any threads. */
#ifndef KORVO_RUNTIME_MESSAGE_H
#define KORVO_RUNTIME_MESSAGE_H

#include <stdarg.h>
#include <stdint.h>

#include "runtime/korvo_export.h"
#include "runtime/stypes.h"

KORVO_BEGIN_DECLS

/* Fills `entry` (whose old contents are overwritten, not freed) with owned
 * copies of `catalog` (may be NULL) and `text`, the number, and the
 * arguments as an Any of type TC_Vem_Types_StringList. Returns 1, or 0 when
 * memory is exhausted or `entry`/`text` is NULL (then `entry` is zeroed).
 * Release the entry with vem_free_generic(entry, TC_Vem_Types_XOpenMessageEntry). */
KORVO_RUNTIME_EXPORT int msg_entry_build(MessageEntry *entry, const char *catalog, int32_t number,
                                         const char *text, ...);
KORVO_RUNTIME_EXPORT int msg_entry_vbuild(MessageEntry *entry, const char *catalog, int32_t number,
                                          const char *text, va_list arguments);

/* The entry's text with its arguments filled in, as a new mg block owned by
 * the caller; NULL when memory is exhausted or `entry` is NULL. */
KORVO_RUNTIME_EXPORT char *msg_entry_render(const MessageEntry *entry);

KORVO_END_DECLS

#endif
