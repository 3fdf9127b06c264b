/* Sequence helpers and byte-wise equality that the library exports beside
 * the runtime's own sequence functions.
 *
 * Ownership: seq_replace returns a block (the slot's old bytes) that the
 * caller owns and releases with mg_free; what those bytes point to is the
 * caller's too. seq_free releases a header from the runtime's allocator.
 *
 * Threads: a sequence is used by one thread at a time.
 */
#ifndef KORVO_PROPERTIES_KORVO_SEQ_H
#define KORVO_PROPERTIES_KORVO_SEQ_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/env.h"
#include "runtime/korvo_export.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* Zeroes the three words of a sequence header (an empty sequence). */
KORVO_EXPORT void seq_init(void *seq);

/* Releases the buffer when the header's `maximum` is nonzero, then the header
 * itself (an mg block); not what the elements own. NULL is ignored. */
KORVO_EXPORT void seq_free(void *seq);

/* Copies the `size` bytes at `element` over slot `index` and returns a new
 * block holding the slot's previous bytes. An index not below the length
 * raises catalog message 39 (index, length) and changes nothing; so does a
 * NULL `element`, with the runtime's message (number -1) "The item was not
 * replaced in the sequence: the element is NULL.\n". */
KORVO_EXPORT void *seq_replace(void *seq, const void *element, uint32_t index, size_t size);

/* 1 when `a` and `b`, two values of `type`, encode to the same bytes (the
 * same pointer: 1 at once), else 0. A failed encoding gives 0 and records
 * "Marshalling error (%1$d)" with the first failing value's code in `env`,
 * which is cleared on entry. Note that order matters: lists holding the same
 * properties in another order are not equal. */
KORVO_EXPORT int qel_generic_equal(TypeCode type, Env *env, const void *a, const void *b);

KORVO_END_DECLS

#endif
