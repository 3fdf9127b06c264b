/* The environment record: how a runtime function that does not raise reports
 * an exception to its caller. The caller zeroes an Env, passes its address,
 * and afterwards either raises what was recorded (ev_to_exception) or
 * inspects and releases it (env_clear). A nonzero first word means that an
 * exception is recorded; the exception belongs to the Env until one of those
 * two calls takes it.
 *
 * Threads: an environment record is used by one thread at a time.
 */
#ifndef KORVO_RUNTIME_ENV_H
#define KORVO_RUNTIME_ENV_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

struct EhException;

typedef struct Env {
    int32_t failed;                /* nonzero: `exception` holds a recorded exception */
    int32_t reserved;              /* 0 */
    struct EhException *exception; /* see raise.h for its accessors */
} Env;

/* Records in `env` an exception of the runtime's error type whose message is
 * built from (catalog, number, format, arguments) like vaThrow's. Callers
 * without a catalog pass (env, 0, -1, format, ...). An exception already
 * recorded is replaced. A NULL `env` is ignored. */
KORVO_RUNTIME_EXPORT void vaRaiseException(Env *env, const char *catalog, int32_t number,
                                           const char *format, ...);

/* Raises the exception recorded in `env`, leaving `env` cleared; returns at
 * once when none is recorded (or `env` is NULL). */
KORVO_RUNTIME_EXPORT void ev_to_exception(Env *env);

/* Releases a recorded exception, if any, and zeroes `env`. */
KORVO_RUNTIME_EXPORT void env_clear(Env *env);

KORVO_END_DECLS

#endif
