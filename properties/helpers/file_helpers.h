/* File helpers: a file object (name and descriptor) with open, create,
 * read, write, seek, close and remove, plus size, access, modification-time
 * and stat queries by path. They stand on the runtime's allocator and raise
 * the catalog's messages (properties/errors/korvo_catalog.h) through the runtime
 * (raise.h) with their arguments; paths go to the system unchanged.
 *
 * Flags are the host's open(2) flags (O_RDONLY, O_WRONLY | O_TRUNC, ...);
 * descriptors are opened close-on-exec. stat_ex fills the host's status
 * record (kes/kes_host_stat.h), 64-bit wide in every caller. Numbers in messages are 32 bits, as
 * the catalog's placeholders are.
 *
 * Ownership: file_open and file_create return a FileRecord the caller owns
 * and releases with file_delete (which closes it when it is still open);
 * the record's name is a copy on the runtime's heap.
 *
 * Threads: a FileRecord is used by one thread at a time; the queries by
 * path keep no state.
 */
#ifndef KORVO_PROPERTIES_FILE_HELPERS_H
#define KORVO_PROPERTIES_FILE_HELPERS_H

#include <stdint.h>
#include "kes/kes_host_stat.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct FileRecord {
    char *name; /* the path the file was opened by (mg block) */
    int32_t fd; /* the descriptor; -1 once closed */
} FileRecord;

/* Opens `path` with `flags`. Failure raises message 11 (path). */
KORVO_EXPORT FileRecord *file_open(const char *path, int32_t flags);
/* Opens `path` with `flags` | O_CREAT and permission bits `mode` (before
 * the umask). Failure raises message 12 (path, errno). */
KORVO_EXPORT FileRecord *file_create(const char *path, int32_t flags, int32_t mode);
/* 1 when `file` is not NULL and its descriptor is not -1, else 0. */
KORVO_EXPORT int32_t file_is_open(const FileRecord *file);
/* Closes the descriptor and sets it to -1 (also when the close fails: the
 * system has released the descriptor either way). Returns 0. NULL raises
 * message 13; a failed close (a record already closed included) message 14
 * (name). */
KORVO_EXPORT int32_t file_close(FileRecord *file);
/* Removes the file of the record's name (the record stays open if it was).
 * Returns 0. NULL raises message 15, a failure message 16 (name). */
KORVO_EXPORT int32_t file_remove(FileRecord *file);
/* Closes the file when it is open (a failed close is not reported) and
 * releases the name and the record. NULL raises message 17. */
KORVO_EXPORT void file_delete(FileRecord *file);
/* Reads up to `count` bytes into `buffer` at the current position, as many
 * as the file holds up to `count`; returns the number read, 0 at the end of
 * the file. NULL raises message 18; a failed read or a negative count
 * message 19 (name, count, errno). */
KORVO_EXPORT int32_t file_read(FileRecord *file, void *buffer, int32_t count);
/* Writes the `count` bytes of `buffer` at the current position and returns
 * `count`. NULL raises message 20; fewer bytes written than asked (a full
 * disk, a file-size limit, an error) or a negative count message 21 (name,
 * count). */
KORVO_EXPORT int32_t file_write(FileRecord *file, const void *buffer, int32_t count);
/* Moves to `offset` bytes from the start of the file and returns the new
 * position. NULL raises message 22, a failure message 23 (name, errno). */
KORVO_EXPORT int32_t file_seek(FileRecord *file, int32_t offset);

/* The size of the file at `path` in bytes. A path that cannot be examined,
 * or a size over 2^31 - 1 bytes (which the 32-bit result cannot hold),
 * raises message 24 (path). */
KORVO_EXPORT int32_t file_get_size(const char *path);
/* 0 when `path` can be accessed with `mode` (0 existence, 2 write, 4 read,
 * 6 both, as access(2)). Otherwise raises message 25 (path, mode). */
KORVO_EXPORT int32_t file_access(const char *path, int32_t mode);
/* The modification time of `path` in whole seconds since 1970 UTC, or -1
 * when it cannot be examined. Times before 1970 are negative; a file of
 * 1969-12-31T23:59:59 is not told apart from a failure. */
KORVO_EXPORT int64_t file_get_mtime(const char *path);
/* stat(2) of `path` into `record`: returns its result when it fails (-1).
 * For a directory returns 0 with the record as stat filled it; for any other
 * file the modification time is cut to whole seconds (as file_get_mtime
 * gives it) and the result is 0. */
KORVO_EXPORT int32_t stat_ex(const char *path, struct stat *record);

KORVO_END_DECLS

#endif
