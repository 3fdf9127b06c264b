/* Directory operations of the Kes layer: testing, creating and removing a
 * directory, the current directory, and listing a directory's entries.
 *
 * A KesDir comes from KesDirOpen (Kes heap) and is released by KesDirClose,
 * also after a failed open that handed one back. Names are copied into the
 * caller's buffers. Statuses are (code, osError, step); osError is errno, or
 * errno + 200 where the call replaces a host directory call, as noted. Paths that are not native
 * are passed to the system unchanged.
 *
 * Threads: a KesDir is used by one thread at a time; the path operations
 * keep no state.
 */
#ifndef KORVO_KES_KES_DIR_H
#define KORVO_KES_KES_DIR_H

#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Size of the buffer of KesDirGetCurrentDirectory and of a KesDir's path. */
#define KES_DIR_PATH_SIZE 1024
/* The least size of the name buffer of KesDirReadDirectory. */
#define KES_DIR_NAME_SIZE 260

typedef struct KesDir KesDir;

/* 1 when the path exists and is a directory, else 0 (also for NULL). */
KORVO_EXPORT int KesDirIsDirectory(const char *path);
/* mkdir (mode 0777 before the umask). NULL path: 21, 0, 0; failure: -4,
 * errno, 1. */
KORVO_EXPORT KesStatus *KesDirCreateDirectory(KesStatus *status, const char *path);
/* rmdir. NULL path: 21, 0, 0; failure: -4, errno, 1. */
KORVO_EXPORT KesStatus *KesDirRemoveDirectory(KesStatus *status, const char *path);
/* The current directory into `buffer` of KES_DIR_PATH_SIZE bytes. NULL
 * buffer: 21, 0, 0; failure (also a directory that does not fit, ERANGE):
 * -4, errno + 200, 0, and the buffer holds the empty text. */
KORVO_EXPORT KesStatus *KesDirGetCurrentDirectory(KesStatus *status, char *buffer);
/* chdir. NULL path: 21, 0, 0; failure: -4, errno + 200, 1. */
KORVO_EXPORT KesStatus *KesDirSetCurrentDirectory(KesStatus *status, const char *path);

/* Prepares the listing of the directory `path` and stores a KesDir in *dir.
 *   NULL path or `dir`: 21, 0, 0 (nothing stored);
 *   no memory for the record: -4, ENOMEM, 1 (*dir is NULL);
 * from here on the record is stored and the caller closes it:
 *   the path cannot be examined (stat): -4, errno, 2;
 *   it is not a directory: 19, 0, 3;
 *   it holds 1022 bytes or more: 34, 0, 4. */
KORVO_EXPORT KesStatus *KesDirOpen(KesStatus *status, KesDir **dir, const char *path);
/* Copies the next entry's name into `name` (at least KES_DIR_NAME_SIZE
 * bytes). Entries come in the order of the system, "." and ".." included.
 *   NULL `dir` or `name`: 21, 0, 0; `dir` without a path: 21, 0, 1;
 *   the directory cannot be opened (first read): -4, errno + 200, 2;
 *   the listing has ended: 2, 218, 3, and so does every later read;
 *   reading fails: -4, errno + 200, 3. */
KORVO_EXPORT KesStatus *KesDirReadDirectory(KesStatus *status, char *name, KesDir *dir);
/* Ends the listing and releases the record; NULL is ignored. Always 0. */
KORVO_EXPORT KesStatus *KesDirClose(KesStatus *status, KesDir *dir);

KORVO_END_DECLS

#endif
