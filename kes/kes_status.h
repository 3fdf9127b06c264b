/* The status record of the Kes layer and the depot. Operations that can fail
 * in more than one way take the caller's KesStatus as their first argument,
 * fill it and return its address; code 0 is success. `osError` holds the
 * system's error number when `code` is KES_SYSTEM_ERROR (errno, or errno + 200
 * where the call replaces a host file or directory call), and
 * `step` tells which step of the operation produced the status.
 *
 * Threads: a status record belongs to the caller that passed it.
 */
#ifndef KORVO_KES_KES_STATUS_H
#define KORVO_KES_KES_STATUS_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct KesStatus {
    int32_t code;
    int32_t osError;
    int32_t step;
} KesStatus;

/* Status codes. Each operation documents which of them it returns; the depot
 * adds KES_NO_SPACE (a reservation does not fit) and KES_END for "no such
 * entry". */
#define KES_OK 0
#define KES_END 2             /* nothing more; end of a directory listing */
#define KES_TOO_LONG_OUTPUT 7 /* formatted output too long */
#define KES_FLUSH_FAILED 9    /* flushing a file to disk failed */
#define KES_NO_MEMORY 12      /* memory exhausted */
#define KES_NOT_DIRECTORY 19  /* not a directory */
#define KES_INVALID 21        /* invalid argument */
#define KES_NO_SPACE 26       /* a depot reservation does not fit */
#define KES_NAME_TOO_LONG 34  /* name too long */
#define KES_UNSUPPORTED (-1)  /* not supported on this platform */
#define KES_WAIT_FAILED (-2)  /* a wait ended without the lock (abandoned or timed out) */
#define KES_SYSTEM_ERROR (-4) /* system error; osError holds the number */
#define KES_END_OF_LIST (-6)  /* end of list (list iterator) */

KORVO_END_DECLS

#endif
