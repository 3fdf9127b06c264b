/* Formatted output of the Kes layer. Formats use the C library's printf
 * conversions with the portable 64-bit length modifier "ll" (%lld, %llu,
 * %llx), which the layer passes to the host's C library in the form that
 * library understands. Nothing here allocates for the caller: the result is
 * written into the caller's buffer.
 *
 * Threads: any thread; nothing is shared.
 */
#ifndef KORVO_KES_KES_FORMAT_H
#define KORVO_KES_KES_FORMAT_H

#include "runtime/korvo_export.h"

#define KES_PRINTF_LIKE(format_index, first_argument) \
    KORVO_PRINTF_FORMAT(format_index, first_argument)

KORVO_BEGIN_DECLS

/* Formats into `dst`, which the caller sizes (no bound is applied), and
 * returns the number of bytes written, terminator excluded, as vsprintf does.
 * A NULL `dst` or `format`, or no memory for the working copy of the format,
 * gives -1 (and an empty `dst` when there is one). */
KORVO_EXPORT int KesStringSprintf(char *dst, const char *format, ...) KES_PRINTF_LIKE(2, 3);

KORVO_END_DECLS

#endif
