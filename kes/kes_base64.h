/* Base64 in the manner of MIME: the standard alphabet, '=' padding, no line
 * breaks on output, white space skipped on input. The depot stores an entry's
 * property bytes as this text.
 *
 * Encode and Decode return new buffers on the Kes heap that belong to the
 * caller (KesMemoryFree), as do the buffers of AllocEncode and AllocDecode.
 * Lengths are 32-bit byte counts.
 *
 * Threads: any thread; the functions keep no state, and a buffer is used by
 * one thread at a time.
 */
#ifndef KORVO_KES_KES_BASE64_H
#define KORVO_KES_KES_BASE64_H

#include <stdint.h>

#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* The 64 digits "A".."Z", "a".."z", "0".."9", "+", "/" and a zero byte; digit
 * value i is the i-th character. */
KORVO_EXPORT extern const char Base64Digits[65];

/* Up to 3 data bytes and their count (1 to 3) when encoding; 4 digit values
 * when decoding. */
typedef struct Base64Group {
    unsigned char bytes[4];
    unsigned char count;
} Base64Group;

/* Encodes `length` bytes: *text gets a new buffer holding the 4 * ceil(length
 * / 3) characters and a zero byte after them, *textLength the number of
 * characters. No data gives a NULL text and length 0, as does a failure
 * (memory exhausted, NULL data, or a text too long for a 32-bit length). */
KORVO_EXPORT void Encode(const void *data, uint32_t length, char **text, uint32_t *textLength);

/* Decodes `length` characters, skipping those IsBadMimeChar reports. Every
 * group of 4 characters gives 3 bytes, less one for each '=' in its third and
 * fourth place; a last group of 2 or 3 characters gives 1 or 2 bytes; a last
 * single character gives nothing. Characters outside the alphabet are not
 * rejected: they decode with the value 254 (bytes with the high bit set count
 * as the character 128 below them). A text of length 0 gives a NULL buffer and
 * length 0; any other text gives a buffer, even when it holds no byte. Code 0;
 * KES_INVALID for a NULL text with a nonzero length or a NULL result address;
 * KES_NO_MEMORY when the buffer cannot be allocated (NULL, length 0). */
KORVO_EXPORT KesStatus *Decode(KesStatus *status, const char *text, uint32_t length,
                               unsigned char **data, uint32_t *dataLength);

/* Writes the 4 characters of the group's bytes (those past `count` taken as
 * 0); count 1 ends in "==", count 2 in "=". */
KORVO_EXPORT void EncodeToBuffer(Base64Group group, char *out);
/* Writes the 3 bytes of 4 digit values; returns 3. */
KORVO_EXPORT int DecodeToBuffer(Base64Group group, unsigned char *out);
/* Writes the 4 digit values (0 to 63) of the group's first 3 bytes. */
KORVO_EXPORT void EncodeRaw(unsigned char *out, Base64Group group);
/* As DecodeToBuffer. */
KORVO_EXPORT void DecodeRaw(unsigned char *out, Base64Group group);
/* True for the white space Decode skips: the values 7 to 13 and 32. */
KORVO_EXPORT int IsBadMimeChar(signed char c);
/* Zeroes the bytes and the count. */
KORVO_EXPORT void Clear(Base64Group *group);
/* Prepares the decode table; always code 0. (The table is built into the
 * library, so this does nothing more.) */
KORVO_EXPORT KesStatus *init(KesStatus *status);
/* Work buffers: when *capacity is below `need`, releases *buffer and
 * allocates ((need / 4096) + 1) * 4096 bytes (*buffer NULL and *capacity 0
 * when that fails); then zeroes the whole buffer and sets *count to 0. */
KORVO_EXPORT void AllocEncode(char **buffer, uint32_t *capacity, uint32_t *count, uint32_t need);
KORVO_EXPORT void AllocDecode(unsigned char **buffer, uint32_t *capacity, uint32_t *count,
                              uint32_t need);

KORVO_END_DECLS

#endif
