/* int64_length: a byte count too large for 32 bits, held as two unsigned
 * 32-bit words, thousands and units, standing for thousands * 1000 + units.
 * The stream code sums segment sizes and offsets into such records and
 * passes them on as text.
 *
 * An addition of n adds n / 1000 to `thousands` and n mod 1000 to `units`;
 * when `units` is then 1000 or more, 1000 moves from `units` to
 * `thousands`, once. Starting from units below 1000, units stay below 1000.
 * Both words are unsigned 32-bit numbers and wrap round as such (at some
 * 4.29e12 bytes).
 *
 * Threads: a record is used by one thread at a time.
 *
 * Ownership: int64_length_new, int64_length_new2, int64_length_clone and
 * int64_length_to_string return new mg blocks that the caller owns
 * (int64_length_delete or mg_free); they return NULL when memory is
 * exhausted. Nothing here raises. */
#ifndef KORVO_RECORDS_KORVO_LENGTH_H
#define KORVO_RECORDS_KORVO_LENGTH_H

#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

typedef struct int64_length {
    uint32_t thousands;
    uint32_t units;
} int64_length;

/* A zeroed record. */
KORVO_EXPORT int64_length *int64_length_new(void);

/* A record whose words are the two texts read as strtol reads decimal
 * numbers into a 32-bit long (leading white space and a sign allowed,
 * reading stops at the first other character; NULL or no digits give 0;
 * numbers beyond -2147483648 .. 2147483647 stop at those ends), each stored
 * as an unsigned word: "-1" gives 4294967295. `units` is taken as it is,
 * even when it is 1000 or more; each addition carries one thousand out of
 * it. */
KORVO_EXPORT int64_length *int64_length_new2(const char *thousands, const char *units);

/* A copy of `length`; NULL for NULL. */
KORVO_EXPORT int64_length *int64_length_clone(const int64_length *length);

/* Frees the record; NULL is ignored. */
KORVO_EXPORT void int64_length_delete(int64_length *length);

/* 1 when both words of `a` and `b` are equal (two NULLs included), else 0. */
KORVO_EXPORT int32_t int64_length_equal(const int64_length *a, const int64_length *b);

/* Adds the count n: thousands grows by n / 1000 and units by n % 1000, and
 * when units are then 1000 or more, one thousand is carried into thousands.
 * A negative n and a NULL record are ignored. */
KORVO_EXPORT void int64_length_add(int64_length *length, int32_t n);

/* The count as text in a new 32-byte zeroed block: thousands in decimal,
 * then units with at least three digits, then a newline (so a zeroed record
 * gives "0000\n" and 1 thousand 1 unit "1001\n"). NULL for NULL. */
KORVO_EXPORT char *int64_length_to_string(const int64_length *length);

KORVO_END_DECLS

#endif
