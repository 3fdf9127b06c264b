/* Configuration of the endpoint: where its work directory and configuration
 * file are, values read from the configuration file, and path
 * normalisation. Every path and value returned is an mg block owned by the
 * caller (release with mg_free).
 *
 * Sources:
 *   KORVO_WORK_DIR     the endpoint's work directory
 *   KORVO_CONFIG_FILE  the endpoint's configuration file
 * The configuration file holds one `key=value` per line; blanks around the
 * key and the value are ignored, lines starting with '#' or ';' and lines
 * without '=' are skipped, and the first line for a key gives its value. A
 * value ends at its first NUL byte (what follows on the line is ignored),
 * and blanks in front of that NUL are dropped as at the line's end.
 * Only a regular file is read (opened without blocking, so a FIFO in its
 * place is refused at once), and no line may be longer than
 * MRT_CONFIG_MAX_LINE bytes; either failure is logged at level 0.
 *
 * Threads: any thread; nothing is shared between calls. */
#ifndef KORVO_RUNTIME_CONFIG_H
#define KORVO_RUNTIME_CONFIG_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* The work directory (KORVO_WORK_DIR), or NULL when it is not set or empty. */
KORVO_RUNTIME_EXPORT char *mrt_get_work_dir(void);

/* The configuration file's path (KORVO_CONFIG_FILE), or NULL when it is not
 * set or empty. The file need not exist. */
KORVO_RUNTIME_EXPORT char *mrt_get_config_filespec(void);

/* The longest line the configuration reader reads, in bytes without its end
 * of line. */
#define MRT_CONFIG_MAX_LINE 65536

/* Value kinds of a configuration key. */
#define MRT_CONFIG_STRING 4 /* an owned copy of the value's text */

/* One key asked for: its name, 0, its kind, and two words kept 0. A key
 * with a NULL name ends the table. */
typedef struct MrtConfigKey {
    const char *name;
    int32_t flags;
    int32_t kind;
    void *reserved1;
    void *reserved2;
} MrtConfigKey;

/* A query: the key table, 0, and the result slots, one per key in table
 * order. A slot receives an owned copy of its key's value, or is left as it
 * was (NULL, normally) when the file has no line for the key. */
typedef struct MrtConfigQuery {
    const MrtConfigKey *keys;
    int32_t flags;
    char **values;
} MrtConfigQuery;

/* Reads the file at `path` and fills the query's slots. Returns 1, or 0 when
 * the file cannot be read (absent, not a regular file, a line too long), an
 * argument is NULL, a key has a kind other than
 * MRT_CONFIG_STRING or memory is exhausted (then no slot is changed).
 *
 *   static const MrtConfigKey keys[] = {{"depot_dir", 0, MRT_CONFIG_STRING, 0, 0}, {0}};
 *   char *depot_dir = NULL;
 *   MrtConfigQuery query = {keys, 0, &depot_dir};
 *   if (!mrt_get_config_from_file(path, &query)) ...
 */
KORVO_RUNTIME_EXPORT int mrt_get_config_from_file(const char *path, const MrtConfigQuery *query);

/* A normalised copy of `path`: runs of '/' become one, "." components are
 * dropped, a trailing '/' is dropped (the root stays "/"); ".." is kept, as
 * the path may cross symbolic links. With `native` nonzero, '\' separators
 * become '/' first. An empty path gives "."; NULL gives NULL. */
KORVO_RUNTIME_EXPORT char *CorrectPath(const char *path, int32_t native);

KORVO_END_DECLS

#endif
