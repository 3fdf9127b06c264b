/* The runtime log. Each call formats one line (printf conventions) and hands
 * it, with its level, to the log's sink:
 *   level 0  failures that end an operation
 *   level 1  failures an operation survives
 *   level 2  notices (LogQ writes at this level)
 *   level 3  trace: the start and end of operations
 * A line is kept when its level is at most the log's level (KORVO_LOG_LEVEL,
 * default 2). Kept lines go to KORVO_LOG_FILE (appended) when that variable
 * names a file that can be opened, else to standard error, one write per
 * line, as
 *   2025-01-31T14:05:09Z 12345 L3 DepotNew entry
 * (UTC time, process id, 'L' and the level, the text; a line feed is added
 * when the text does not end with one). Tests capture lines instead with
 * log_set_capture (log_capture.hpp's korvo::rt::LogCapture wraps it for C++).
 * Nothing here fails or raises; a line that cannot be written is dropped.
 *
 * Threads: any thread; each line is written whole, under the log's own
 * lock.
 */
#ifndef KORVO_RUNTIME_LOG_H
#define KORVO_RUNTIME_LOG_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

#define LOG_LEVEL_FAILURE 0
#define LOG_LEVEL_SURVIVED 1
#define LOG_LEVEL_NOTICE 2
#define LOG_LEVEL_TRACE 3

/* A diagnostic line at level 2. */
KORVO_RUNTIME_EXPORT void LogQ(const char *format, ...);

/* A line at `level`. The three middle arguments are kept for the callers'
 * calling form, (level, 0, 0, -1, format, ...), and ignored. */
KORVO_RUNTIME_EXPORT void LogMsg(int32_t level, int32_t category, int32_t flags, int32_t id,
                                 const char *format, ...);

/* Sets the level filter (lines above it are dropped); a negative level
 * restores the one from the environment. */
KORVO_RUNTIME_EXPORT void log_set_level(int32_t level);
KORVO_RUNTIME_EXPORT int32_t log_get_level(void);

/* Reads KORVO_LOG_LEVEL and KORVO_LOG_FILE again (the log reads them once,
 * at its first line) and reopens the sink. */
KORVO_RUNTIME_EXPORT void log_configure(void);

/* While a capture function is set, every line, whatever its level and the
 * filter, goes to fn(context, level, text) instead of the sink; `text` is the
 * formatted line as the caller wrote it (no time stamp, no added line feed)
 * and lives for the call only. Lines that the function itself logs are
 * dropped. Calls are serialised. fn NULL ends capturing. */
typedef void (*LogCaptureFn)(void *context, int32_t level, const char *text);
KORVO_RUNTIME_EXPORT void log_set_capture(LogCaptureFn fn, void *context);

KORVO_END_DECLS

#endif
