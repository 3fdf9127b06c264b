/* The file status record that stat_ex (properties/file_helpers.h) fills: the
 * host's own, struct stat of <sys/stat.h> on POSIX hosts.
 *
 * Its file sizes and times are 64 bits wide for every caller of one build:
 * a caller compiled with 32-bit file offsets or times does not compile
 * against this header, instead of handing the library a record of another
 * layout.
 *
 * Types only: nothing is allocated, and threads share nothing here.
 */
#ifndef KORVO_KES_KES_HOST_STAT_H
#define KORVO_KES_KES_HOST_STAT_H

#include <sys/stat.h>
#include <time.h>

typedef char KesHostStatSizeIs64Bits[sizeof(((struct stat *)0)->st_size) == 8 ? 1 : -1];
typedef char KesHostTimeIs64Bits[sizeof(time_t) == 8 ? 1 : -1];

#endif
