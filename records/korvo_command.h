/* Stream command codes: the byte in front of a gateway packet that says
 * what the packet is, and their names. decode_command returns a static
 * string that nobody frees.
 *
 * Threads: any thread; the names are constant.
 */
#ifndef KORVO_RECORDS_KORVO_COMMAND_H
#define KORVO_RECORDS_KORVO_COMMAND_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

#define KORVO_COMMAND_NULL 0   /* "NULL" */
#define KORVO_COMMAND_DATA 1   /* "DATA" */
#define KORVO_COMMAND_CANCEL 2 /* "CANCEL" */
#define KORVO_COMMAND_PAUSE 3  /* "PAUSE" */
#define KORVO_COMMAND_EXPIRE 4 /* "EXPIRE" */
#define KORVO_COMMAND_ROAM 5   /* "ROAM" */

/* The name of command `code`; NULL for a code that is not one of the six. */
KORVO_EXPORT const char *decode_command(int32_t code);

KORVO_END_DECLS

#endif
