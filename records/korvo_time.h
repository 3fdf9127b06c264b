/* The time text of progress output: a time in seconds since 1970 as local
 * time, "YYYY/MM/DD HH:MM:SS " (with a trailing space). The text is written
 * into the caller's buffer; nothing is allocated.
 *
 * Threads: any thread (localtime_r).
 */
#ifndef KORVO_RECORDS_KORVO_TIME_H
#define KORVO_RECORDS_KORVO_TIME_H

#include <stddef.h>
#include <time.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Writes the local time of `*seconds` as "%Y/%m/%d %H:%M:%S " into `buffer`
 * (at most `size` bytes, the terminating NUL included) and returns the
 * number of characters written without the NUL: 20 for years of four
 * digits. Returns 0 when the text does not fit, when the time cannot be
 * represented as a local time, or when an argument is NULL; the buffer's
 * contents are then unspecified. */
KORVO_EXPORT size_t time_to_string(char *buffer, size_t size, const time_t *seconds);

KORVO_END_DECLS

#endif
