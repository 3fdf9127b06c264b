/* The depot's trace logger. Logger formats one line by the printf
 * conventions and hands it, with its level, to the runtime log (LogMsg) as
 * finished text, so that a '%' inside an argument (a file path) reaches the
 * log unchanged. Levels: 0 a failure that ends an operation, 1 a failure the
 * operation survives, 2 a notice, 3 the start and end of an operation. Every
 * depot operation traces through it; endpoint methods may use it too.
 *
 * A format of 975 characters or more is dropped. A formatted line longer
 * than 1023 bytes is cut to 1023 bytes (its last byte a line feed when the
 * format ends with one). Nothing is returned; nothing is allocated for the
 * caller. */
#ifndef KORVO_DEPOT_DEPOT_LOGGER_H
#define KORVO_DEPOT_DEPOT_LOGGER_H

#include <stdint.h>

#include "kes/kes_format.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Formats one trace line at `level` (0 to 3) and hands it to the runtime
 * log. Never fails and never raises; any thread (the log serialises its
 * lines). */
KORVO_EXPORT void Logger(int32_t level, const char *format, ...) KES_PRINTF_LIKE(2, 3);

KORVO_END_DECLS

#endif
