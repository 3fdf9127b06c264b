/* Libraries loaded at run time by a short name (the CDS client loader uses
 * this). A module handle comes from KesRtlLoad and goes back with
 * KesRtlUnload; symbol addresses stay valid while the module is loaded.
 *
 * Threads: any thread (the system's dynamic loader is thread-safe).
 */
#ifndef KORVO_KES_KES_RTL_H
#define KORVO_KES_KES_RTL_H

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Loads a library. A name that contains '/' or '\' is a path and is loaded
 * exactly as given. Otherwise, with a non-empty directory the candidates are
 * "<dir>/<name>.so" then "<dir>/lib<name>.so", without one "<name>.so" then
 * "lib<name>.so" (found through the system's library search path); a
 * candidate longer than 511 characters is not tried. The first candidate that
 * loads wins; NULL when none does. */
KORVO_EXPORT void *KesRtlLoad(const char *name, const char *directory);
/* The address of `symbol` in `module`, or in the running program (every
 * library loaded globally) when `module` is NULL; NULL when not found. */
KORVO_EXPORT void *KesRtlResolve(void *module, const char *symbol);
/* Releases a module; nonzero on success, 0 for NULL or a failed release. */
KORVO_EXPORT int KesRtlUnload(void *module);
/* Always the static text "Unknown". */
KORVO_EXPORT const char *KesRtlError(void);

KORVO_END_DECLS

#endif
