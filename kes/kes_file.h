/* File operations of the Kes layer, with 64-bit sizes and offsets: open,
 * read, write, size, position, flush, rename and remove files, describe a
 * file, write formatted text, and make temporary names and files.
 *
 * A KesFile is a cell on the Kes heap holding one descriptor. It comes from
 * KesFileOpen, KesFileOpenTemporary or KesFileGetStd* and is released by
 * KesFileClose, which closes the descriptor too (KesMemoryFree alone
 * releases the cell and leaves the descriptor open, which is how a standard
 * handle is dropped). Descriptors are opened close-on-exec. Nothing else here
 * allocates for the caller.
 *
 * Every operation takes the caller's status first, fills it and returns it.
 * Statuses are written (code, osError, step); "errno" is the C library's
 * error number and "errno + 200" marks a call that stands in for the
 * original system's own file call. Paths must be native (on this host every
 * path is). Operations hold no locks; one thread uses a handle at a time.
 *
 * For an atomic replace of a file: write a new file (KES_FILE_EXCLUSIVE
 * refuses a name that exists), KesFileFlushBuffers it, KesFileClose it, and
 * KesFileRename it over the old name, which replaces it in one step; flushing
 * the directory (opened with KES_FILE_READ) makes the rename itself durable. */
#ifndef KORVO_KES_KES_FILE_H
#define KORVO_KES_KES_FILE_H

#include <stddef.h>
#include <stdint.h>

#include "kes/kes_format.h"
#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct KesFileCell {
    int32_t descriptor; /* 0, 1 and 2 are standard input, output and error */
} KesFileCell;
typedef KesFileCell *KesFile;

/* Open flags of KesFileOpen, translated bit by bit: KES_FILE_READ adds
 * nothing (no access bit means read-only), KES_FILE_WRITE gives write-only,
 * KES_FILE_READ_WRITE read-write. So READ | WRITE opens write-only, and WRITE
 * | READ_WRITE names no access mode: the open fails with -4, EINVAL, step 3.
 * Text and binary mean nothing on this host; other bits are ignored. A
 * created file gets the mode 0600 (owner read and write). */
#define KES_FILE_READ 0x1
#define KES_FILE_WRITE 0x2
#define KES_FILE_READ_WRITE 0x4
#define KES_FILE_APPEND 0x8
#define KES_FILE_CREATE 0x100
#define KES_FILE_TRUNCATE 0x200
#define KES_FILE_EXCLUSIVE 0x400 /* with KES_FILE_CREATE: fail when the file exists */
#define KES_FILE_TEXT 0x4000
#define KES_FILE_BINARY 0x8000

/* Origins of KesFileSetLocation. */
#define KES_FILE_FROM_START 1
#define KES_FILE_FROM_CURRENT 2
#define KES_FILE_FROM_END 3

/* Permission bits of KesFileInfo: the owner may read, may write. */
#define KES_FILE_PERMISSION_READ 0x1
#define KES_FILE_PERMISSION_WRITE 0x10

/* Size of the account-name fields of KesFileInfo. */
#define KES_FILE_ACCOUNT_SIZE 1024

/* The text of one KesFilePrintf must fit in this many bytes, terminator
 * included. */
#define KES_FILE_PRINTF_SIZE 4096

typedef struct KesFileInfo {
    int64_t changeTime; /* milliseconds since 1970, whole seconds */
    int64_t accessTime;
    int64_t modificationTime;
    int32_t permissions; /* KES_FILE_PERMISSION_* of the owner */
    int32_t links;
    int64_t size;
    int32_t device;
    int32_t rawDevice;
    char owner[KES_FILE_ACCOUNT_SIZE]; /* account name; empty when it cannot be read */
    char group[KES_FILE_ACCOUNT_SIZE]; /* always empty */
} KesFileInfo;

/* Opens `path` with Kes `flags` and stores a new KesFile in *file.
 *   NULL path or `file`: 21, 0, 1; not native: 21, 0, 2 (*file NULL);
 *   no memory for the handle: 12, 0, 3 (*file NULL);
 *   open fails: -4, errno, 3, and a handle holding descriptor -1 is stored
 *   all the same (KesFileClose releases it). */
KORVO_EXPORT KesStatus *KesFileOpen(KesStatus *status, KesFile *file, const char *path,
                                    int32_t flags);
/* Closes the descriptor (a standard one too) and releases the handle, which
 * must not be used again. NULL: 21, 0, 1; close fails: -4, errno, 2 (the
 * handle is released all the same). A handle of a failed open holds no
 * descriptor: its close gives -4, EBADF, 2 and releases it. */
KORVO_EXPORT KesStatus *KesFileClose(KesStatus *status, KesFile file);
/* One read of at most `count` bytes; *done (when not NULL) gets the count
 * read, 0 at the end of the file. NULL file: 21, 0, 1; failure: -4, errno, 2. */
KORVO_EXPORT KesStatus *KesFileRead(KesStatus *status, KesFile file, void *buffer, size_t count,
                                    size_t *done);
/* One write of at most `count` bytes; *done (when not NULL) gets the count
 * written, which may be short without an error. NULL file: 21, 0, 1;
 * failure: -4, errno, 2. */
KORVO_EXPORT KesStatus *KesFileWrite(KesStatus *status, KesFile file, const void *buffer,
                                     size_t count, size_t *done);
/* The file's size. NULL file or `size`: 21, 0, 1; failure: -4, errno, 2 with
 * *size = -1. */
KORVO_EXPORT KesStatus *KesFileGetSize(KesStatus *status, KesFile file, int64_t *size);
/* Grows (sparse) or shrinks the file to `size` bytes; the position stays.
 *   NULL: 21, 0, 1; no open descriptor: -4, errno, 2;
 *   a negative size: -4, EINVAL + 200, 3; truncating fails: -4, errno + 200, 4. */
KORVO_EXPORT KesStatus *KesFileSetSize(KesStatus *status, KesFile file, int64_t size);
/* Moves the position by `offset` from KES_FILE_FROM_*. Another origin or a
 * NULL file: 21, 0, 1; failure: -4, errno, 2. */
KORVO_EXPORT KesStatus *KesFileSetLocation(KesStatus *status, KesFile file, int64_t offset,
                                           int32_t origin);
/* The position. NULL file or `location`: 21, 0, 0; failure: -4, errno, 1. */
KORVO_EXPORT KesStatus *KesFileGetLocation(KesStatus *status, KesFile file, int64_t *location);
/* Writes the file's data through to the disk (fsync). NULL: 21, 0, 1; no open
 * descriptor: -4, errno, 2; the flush fails: 9, 0, 3. */
KORVO_EXPORT KesStatus *KesFileFlushBuffers(KesStatus *status, KesFile file);
/* Removes a file (not a directory). NULL: 21, 0, 1; not native: 21, 0, 0;
 * failure: -4, errno, 2. */
KORVO_EXPORT KesStatus *KesFileRemove(KesStatus *status, const char *path);
/* Renames `from` to `to`, replacing an existing `to` in one step. Either NULL:
 * 21, 0, 1; either not native: 21, 0, 2; failure: -4, errno, 2. */
KORVO_EXPORT KesStatus *KesFileRename(KesStatus *status, const char *from, const char *to);
/* Describes the file at `path` (following links). NULL path or `info`: 21,
 * 0, 1; not native: 21, 0, 2; stat fails: -4, errno, 3 (*info zeroed). The
 * owner field stays empty when the owner cannot be named. */
KORVO_EXPORT KesStatus *KesFileGetInfo(KesStatus *status, const char *path, KesFileInfo *info);
/* The account name of the file's owner into `name` of `size` bytes.
 *   NULL path or `name`, or size 0: 21, 0, 1; not native: 21, 0, 2;
 *   the owner cannot be read: -4, errno + 200, 4;
 *   the owner's account cannot be named (no such account, or the name does
 *   not fit: ERANGE): -4, errno + 200, 3.
 * On failure `name` holds the empty text. */
KORVO_EXPORT KesStatus *KesFileGetOwner(KesStatus *status, char *name, const char *path,
                                        size_t size);
/* Formats as KesStringSprintf does and writes the text with KesFileWrite,
 * whose status it returns and whose count it stores in *written (when not
 * NULL). The text must fit in KES_FILE_PRINTF_SIZE - 1 bytes.
 *   NULL file or format: 21, 0, 1; no memory: 12, 0, 2;
 *   text too long: 7, 0, 1, nothing written; formatting fails: -4, errno, 1. */
KORVO_EXPORT KesStatus *KesFilePrintf(KesStatus *status, KesFile file, size_t *written,
                                      const char *format, ...) KES_PRINTF_LIKE(4, 5);
/* Opens a new, nameless file for reading and writing in `directory` and
 * stores its handle; the file disappears when it is closed.
 *   NULL directory or `file`: 21, 0, 1; not native: 21, 0, 2;
 *   the directory cannot be used: -4, errno + 200, 1;
 *   no unused name could be found: 2, 0, 1;
 *   the file cannot be made: -4, errno, 3; no memory for the handle: 12, 0, 3. */
KORVO_EXPORT KesStatus *KesFileOpenTemporary(KesStatus *status, const char *directory,
                                             KesFile *file);
/* Writes into `buffer` a file name (no directory part) that does not exist in
 * `directory`, or in the current directory when `directory` is NULL, at the
 * time of the call. The current directory is not changed.
 *   NULL buffer, or a buffer too small for the name: 21, 0, 0;
 *   the directory cannot be used: -4, errno + 200, 1;
 *   no unused name could be found: 2, 0, 1. */
KORVO_EXPORT KesStatus *KesFileTempFilename(KesStatus *status, const char *directory, char *buffer,
                                            size_t size);
/* A new handle for descriptor 0, 1 or 2: 0. NULL `file`: 21, 0, 1; no memory:
 * 12, 0, 1. */
KORVO_EXPORT KesStatus *KesFileGetStdIn(KesStatus *status, KesFile *file);
KORVO_EXPORT KesStatus *KesFileGetStdOut(KesStatus *status, KesFile *file);
KORVO_EXPORT KesStatus *KesFileGetStdErr(KesStatus *status, KesFile *file);
/* The constant 3. */
KORVO_EXPORT int32_t KesFileAccessType(void);

KORVO_END_DECLS

#endif
