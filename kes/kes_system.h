/* System information of the Kes layer: the wall clock, the C library's random
 * numbers, immediate process exit, and the name, architecture and release of
 * the operating system.
 *
 * osName, osArch and osVersion are exported 32-byte buffers, empty when the
 * library loads and filled from uname (system name, machine, release; at most
 * 31 characters, always terminated) by the first call of the matching getter.
 * They keep their text for the life of the process and belong to the
 * library: callers read them and never free them.
 *
 * Threads: any thread; the system-information buffers are filled once, and
 * two threads filling one at the same time write the same text.
 * KesSystemRandom shares the C library's generator.
 */
#ifndef KORVO_KES_KES_SYSTEM_H
#define KORVO_KES_KES_SYSTEM_H

#include <stdint.h>

#include "runtime/korvo_export.h"

#ifdef __cplusplus
#define KES_NORETURN [[noreturn]]
#else
#define KES_NORETURN _Noreturn
#endif

KORVO_BEGIN_DECLS

#define KES_OS_INFO_SIZE 32

KORVO_EXPORT extern char osName[KES_OS_INFO_SIZE];
KORVO_EXPORT extern char osArch[KES_OS_INFO_SIZE];
KORVO_EXPORT extern char osVersion[KES_OS_INFO_SIZE];

/* Wall-clock milliseconds since 1970-01-01 00:00 UTC; steps back when the
 * clock is set back. */
KORVO_EXPORT int64_t KesSystemGetMilliSeconds(void);
/* Seeds the C library's rand. */
KORVO_EXPORT void KesSystemSeedRandom(unsigned int seed);
/* The next value of the C library's rand. */
KORVO_EXPORT int KesSystemRandom(void);
/* Ends the process at once with `status`: no exit handlers, no flushing. */
KES_NORETURN KORVO_EXPORT void KesSystemExit(int status);
/* Always true. */
KORVO_EXPORT int KesSystemHas64BitInt(void);
/* osName, osArch and osVersion, filled on first use; a buffer that could not
 * be filled stays empty and the next call tries again. */
KORVO_EXPORT const char *KesSystemGetOS(void);
KORVO_EXPORT const char *KesSystemGetOSArch(void);
KORVO_EXPORT const char *KesSystemGetOSVersion(void);

KORVO_END_DECLS

#endif
