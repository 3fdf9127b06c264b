/* Progress records: one property list per distribution, kept in the file
 * "<id>.<suffix>" of the progress directory "mstat" under the endpoint's
 * work directory (KORVO_WORK_DIR through mrt_get_work_dir, else the
 * temporary directory). The file holds the list in the bare layout of
 * property files (properties/property_files.h). The suffix is "mds" for
 * kind 0 and "ads" for any other kind; mstat_done turns it into "mdf" /
 * "adf".
 *
 * Keys the library writes: "msid" (string, the id; every save adds it when
 * missing), "t_len" and "c_len" (decimal strings: total and checkpointed
 * byte counts), "err" (boolean), "err_msg" (string), "paused" and "close"
 * (booleans). Callers may add their own on the list mstat_get_properties
 * returns.
 *
 * A process killed at any moment, or a full disk, leaves the previous
 * record or the new one, never a torn one. A save whose encoded list has
 * another size than the file replaces the file atomically
 * (properties_save_without_len): the list is written to a temporary file in
 * the same directory (".korvo-XXXXXX", which is never taken for a progress
 * file) and renamed over the old one. The record then keeps the new file
 * open, and a later save of the same size (a checkpoint whose "c_len" has as
 * many digits) rewrites it in place with one write within its first page,
 * which the page cache takes whole; records over a page are always
 * replaced, and so is a file that no longer has exactly its one name and
 * the size last written (replaced, linked elsewhere, cut or lengthened by
 * another program). mstat_save looks at the file every time; a stream's
 * checkpoints look when another record of the process has replaced or
 * renamed a progress file since, or when their last look is a millisecond
 * old, so that a change by another program is repaired by the first
 * checkpoint after that. A stream's checkpoint does not encode the list again:
 * when only "c_len" changed and kept its number of digits, the new digits
 * are written into the bytes the last checkpoint wrote. The file's
 * permission bits are 0600.
 *
 * The progress directory is created for its owner only (0700). One that
 * belongs to another account (or a link to one, or a link planted by one)
 * is refused: saves and loads answer -1 and log "korvo: The progress
 * directory <dir> belongs to another account; no progress record is kept
 * there." at level 0, since it could hold forged records.
 *
 * Ownership: mstat_new returns a record the caller releases with
 * mstat_free; the list, the id and the paths belong to the record.
 * distid_get_filename returns a path-name buffer the caller owns
 * (pathname_delete). One record is used by one thread at a time; two
 * records of one id write the same file, the last save wins. */
#ifndef KORVO_STREAM_MSTAT_H
#define KORVO_STREAM_MSTAT_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct mstat {
    char *dir;             /* the progress directory (a path-name buffer) */
    char *distId;          /* the distribution id */
    char suffix[4];        /* "mds", "ads"; after mstat_done "mdf", "adf" */
    char *path;            /* the progress file's path, NULL until first needed */
    Properties properties; /* the record's contents */
} mstat;

/* A new empty record for distribution `distId` (kind 0: "mds", else "ads").
 * Creates the progress directory (0700) when it does not exist (one level;
 * a failure shows at the first save). The progress file is not touched. NULL
 * when `distId` is NULL, memory is exhausted, or the progress directory's
 * path does not fit a path-name buffer. */
KORVO_EXPORT mstat *mstat_new(const char *distId, int16_t kind);
/* Releases the record and everything it holds; NULL is ignored. */
KORVO_EXPORT void mstat_free(mstat *record);
/* The record's list (it stays the record's); NULL for NULL. */
KORVO_EXPORT Properties *mstat_get_properties(mstat *record);

/* Writes the record's list to its progress file, putting "msid" = the id
 * first when the list has no string under "msid". Returns 0; -1 when the
 * path cannot be built (NULL record, a path longer than a path-name buffer,
 * an id holding a '/', exhausted memory, a progress directory of another
 * account). File failures raise: message 12
 * (the file cannot be created or put in place), 21 (short write). */
KORVO_EXPORT int32_t mstat_save(mstat *record);
/* Replaces the record's list with the contents of its progress file.
 * Returns 0; -1 when the path cannot be built. A missing file raises
 * message 11, undecodable contents message 35 (the list is then left as it
 * was). */
KORVO_EXPORT int32_t mstat_load(mstat *record);
/* Marks the record finished: renames its file from ".mds" to ".mdf" (or
 * ".ads" to ".adf"; a missing file is no error) and saves go to the new name
 * from then on. The finished name then gets a new file of the same bytes,
 * so that other records of the distribution that held the old file open
 * (here or in other processes) never rewrite the finished file: their next
 * save recreates the file at their own path. Does nothing when the path
 * cannot be built. */
KORVO_EXPORT void mstat_done(mstat *record);

/* A new path-name buffer holding the id unchanged (a distribution's id is
 * its file name). A NULL id raises message 32. */
KORVO_EXPORT char *distid_get_filename(const char *distId);
/* Always NULL: there is no next file name. */
KORVO_EXPORT char *distid_get_next_filename(void);

KORVO_END_DECLS

#endif
