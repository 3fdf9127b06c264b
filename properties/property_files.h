/* Property encoding and property files.
 *
 * properties_encode / properties_decode turn any typed value (a property
 * list, a TOC ...) into the runtime's encoding and back (docs/encoding.md).
 * The files hold one encoded Properties list in one of three layouts
 * (docs/property-files.md):
 *   plain   4-byte little-endian length, then the encoded list
 *           properties_write / _read / _save / _load
 *   marked  big-endian marker 1 and big-endian length, then the list
 *           properties_write_improved / _read_improved / _save_improved /
 *           _load_improved
 *   bare    the encoded list alone, its length being the file's size
 *           properties_read_without_len / _save_without_len /
 *           _load_without_len
 * Writers and readers work on an open FileRecord (properties/helpers/file_helpers.h)
 * at its current position. Saves replace the file at a path in one step: the
 * list goes to a temporary file beside it (".korvo-XXXXXX", 0600, or the old
 * file's permission bits) that is renamed over it, so a full disk or a
 * process killed at any moment leaves the old file or the new one, whole. A
 * path that exists and is not a regular file, or that the caller may not
 * write, is refused (message 12). Loads open the file read-only, without
 * blocking, and refuse anything but a regular file (message 11).
 *
 * Threads: no state is shared; a list or a FileRecord is used by one thread
 * at a time.
 *
 * Ownership: the data block properties_encode stores is the caller's
 * (mg_free). Readers, loads and properties_decode fill the caller's storage
 * (for a list, a Properties header, which they overwrite: pass an empty
 * one); what they store is the caller's (properties_delete). When they raise,
 * the storage is left empty and nothing they acquired is kept.
 *
 * Failures are raised as catalog messages (raise.h): 34 encoding failed and
 * 35 decoding failed (runtime error code, marshal.h), 19 a short file, a
 * file whose size does not match its length word, or a failed read (path,
 * length, errno), 11 / 12 a file that cannot be opened / created, 21 a short
 * write. Decoding refuses bytes left over after the value (code
 * ADR_E_BAD_LENGTH), so a bare file with trailing bytes fails too. */
#ifndef KORVO_PROPERTIES_PROPERTY_FILES_H
#define KORVO_PROPERTIES_PROPERTY_FILES_H

#include <stdint.h>

#include "properties/helpers/file_helpers.h"
#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* Encodes the value of type `type` at `value`; stores the encoded bytes (an
 * mg block) in *data and their count in *length. Raises message 34 with the
 * runtime's error code, storing nothing. */
KORVO_EXPORT void properties_encode(TypeCode type, const void *value, void **data,
                                    uint32_t *length);
/* Decodes exactly `length` bytes at `data` into `value` (storage of the
 * type's size). Raises message 35 with the runtime's error code, leaving the
 * storage zeroed. The data stays the caller's. */
KORVO_EXPORT void properties_decode(TypeCode type, const void *data, uint32_t length, void *value);

/* Writers: the list at the file's current position. */
KORVO_EXPORT void properties_write(const Properties *list, FileRecord *file);
KORVO_EXPORT void properties_write_improved(const Properties *list, FileRecord *file);

/* Readers: one list from the file's current position into *list. The plain
 * and marked readers check that the file's size is the length word plus the
 * header (4 or 8 bytes); the bare reader reads the file's size in bytes. */
KORVO_EXPORT void properties_read(Properties *list, FileRecord *file);
KORVO_EXPORT void properties_read_improved(Properties *list, FileRecord *file);
KORVO_EXPORT void properties_read_without_len(Properties *list, FileRecord *file);

/* Saves: replace the file at `path` with the list, in one step. The list is
 * encoded before anything is written (34 leaves the file alone); 12 (path,
 * errno) when the file is refused or the temporary file cannot be created or
 * put in place, 21 (path, count) when a write falls short. */
KORVO_EXPORT void properties_save(const Properties *list, const char *path);
KORVO_EXPORT void properties_save_improved(const Properties *list, const char *path);
KORVO_EXPORT void properties_save_without_len(const Properties *list, const char *path);

/* Loads: open `path` read-only and read one list into *list. */
KORVO_EXPORT void properties_load(Properties *list, const char *path);
KORVO_EXPORT void properties_load_improved(Properties *list, const char *path);
KORVO_EXPORT void properties_load_without_len(Properties *list, const char *path);

KORVO_END_DECLS

#endif
