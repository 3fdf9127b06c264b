/* Directory helpers: creating and testing directories, a directory object
 * holding a path, and an enumerator of the entries whose names fit a
 * wildcard pattern (match.h). Matching ignores the case of ASCII
 * letters; names are handed out as they are on disk, so that they can be
 * opened on a case-sensitive file system. "." and ".." are never handed out.
 *
 * Ownership: dir_new returns a DirRecord the caller releases with
 * dir_delete; dir_entries / dir_entry_enum_new return a DirEntryEnum the
 * caller releases with dir_entry_enum_delete. Strings they return belong to
 * them. Everything is on the runtime's allocator.
 *
 * Failures: dir_create_directory raises catalog message 9 (NULL path) or 10
 * (path); dir_new raises as pathname_clone does. The rest report by their
 * result.
 *
 * Threads: a DirRecord or DirEntryEnum is used by one thread at a time.
 */
#ifndef KORVO_PROPERTIES_DIR_ENUM_H
#define KORVO_PROPERTIES_DIR_ENUM_H

#include <stdint.h>

#include "runtime/cpl.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct DirRecord {
    char *pathname; /* a path-name buffer (pathname.h) */
} DirRecord;

typedef struct DirEntryEnum {
    CplDir *dir;   /* the open listing */
    char *pattern; /* the pattern, upper-cased */
    char *name;    /* the current entry's name, pathname_max_component_length() bytes */
} DirEntryEnum;

/* mkdir(2) of `path` (mode 0777 before the umask); one level, and an
 * existing directory is a failure. Returns 0. NULL raises message 9, a
 * failure message 10 (path). */
KORVO_EXPORT int32_t dir_create_directory(const char *path);
/* 1 when `path`, less its trailing slashes, names a directory (symbolic
 * links followed), else 0 (also for NULL). */
KORVO_EXPORT int32_t dir_is_directory(const char *path);

/* A record holding a path-name copy of `path`: a NULL path raises message
 * 32; a path too long for a path-name buffer, or exhausted memory, gives
 * NULL. */
KORVO_EXPORT DirRecord *dir_new(const char *path);
/* Releases the path and the record; NULL is ignored. */
KORVO_EXPORT void dir_delete(DirRecord *record);
/* The record's path (NULL for NULL). */
KORVO_EXPORT const char *dir_get_pathname(const DirRecord *record);

/* An enumerator of the entries of the record's directory whose names fit
 * `pattern`, ignoring case: "*.toc" finds x.toc, X.TOC and x.Toc. NULL when
 * the directory cannot be opened, an argument is NULL or memory is
 * exhausted. */
KORVO_EXPORT DirEntryEnum *dir_entries(const DirRecord *record, const char *pattern);
KORVO_EXPORT DirEntryEnum *dir_entry_enum_new(const DirRecord *record, const char *pattern);
/* Moves to the next entry that fits the pattern and returns 1; 0 at the end
 * of the listing or for NULL. */
KORVO_EXPORT int32_t dir_entry_enum_has_more_elements(DirEntryEnum *entries);
/* The current entry's name as it is on disk (the empty text before the
 * first dir_entry_enum_has_more_elements); it lives until the next move or
 * the enumerator's release. NULL for NULL. */
KORVO_EXPORT const char *dir_entry_enum_next_element(const DirEntryEnum *entries);
/* Closes the listing and releases the enumerator; NULL is ignored. */
KORVO_EXPORT void dir_entry_enum_delete(DirEntryEnum *entries);

KORVO_END_DECLS

#endif
