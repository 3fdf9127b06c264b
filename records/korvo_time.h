/* The time text of progress output: a time in seconds since 1970 as local
 * time, "YYYY/MM/DD HH:MM:SS " (with a trailing space). The text is written
 * into the caller's buffer; nothing is allocated.
 *
 * time_t is 64 bits wide for every caller of one build: a caller compiled
 * with a 32-bit time_t does not compile against this header.
 *
 * Threads: any thread.
 */
#ifndef KORVO_RECORDS_KORVO_TIME_H
#define KORVO_RECORDS_KORVO_TIME_H

#include <stddef.h>
#include <time.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef char KorvoTimeIs64Bits[sizeof(time_t) == 8 ? 1 : -1];

/* Writes the local time of `*seconds` as "%Y/%m/%d %H:%M:%S " into `buffer`
 * (at most `size` bytes, the terminating NUL included) and returns the
 * number of characters written without the NUL: 20 for years of four
 * digits. Returns 0 when the text does not fit, when the time cannot be
 * represented as a local time, or when an argument is NULL; the buffer's
 * contents are then unspecified. */
KORVO_EXPORT size_t time_to_string(char *buffer, size_t size, const time_t *seconds);

KORVO_END_DECLS

#endif
