/* Portability services: environment, temporary directory and directory
 * listing. cpl_getenv and cpl_tmpdir return strings the caller does not own
 * (copy them to keep them); a directory handle belongs to the caller until
 * cpl_closedir, and an entry record to its handle until the next
 * cpl_readdir or cpl_closedir.
 *
 * Threads: any thread; a directory handle is used by one thread at a time.
 */
#ifndef KORVO_RUNTIME_CPL_H
#define KORVO_RUNTIME_CPL_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* The value of environment variable `name`, or NULL. */
KORVO_RUNTIME_EXPORT const char *cpl_getenv(const char *name);

/* A directory for temporary files: KORVO_TMPDIR, else TMPDIR, else the
 * host's own ("/tmp"; on Windows GetTempPathA's answer without its trailing
 * separator). Empty values are skipped. */
KORVO_RUNTIME_EXPORT const char *cpl_tmpdir(void);

/* A directory entry: the name's length in bytes, then the NUL-terminated
 * name, two bytes into the record. */
typedef struct CplDirEntry {
    uint16_t name_length;
    char name[256];
} CplDirEntry;

typedef struct CplDir CplDir;

/* Opens a directory for listing; NULL (errno set) when it cannot. */
KORVO_RUNTIME_EXPORT CplDir *cpl_opendir(const char *path);
/* The next entry ("." and ".." included, in the order the system gives), or
 * NULL at the end, on error or for a NULL handle. */
KORVO_RUNTIME_EXPORT CplDirEntry *cpl_readdir(CplDir *dir);
/* Releases the handle; NULL is ignored. Returns 0, or -1 on error. */
KORVO_RUNTIME_EXPORT int cpl_closedir(CplDir *dir);

KORVO_END_DECLS

#endif
