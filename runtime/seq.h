/* Runtime sequences: a header {maximum, length, buffer} over a block of the
 * runtime's allocator. `maximum` counts the element slots allocated, `length`
 * the slots in use. Every typed sequence of the system (property lists, string
 * lists, octet lists, message lists) has this layout, so the functions below
 * take any of them through a void pointer together with the element size.
 *
 * The buffer belongs to the sequence and is released with seq_free_buffer (or
 * by vem_free_generic, which also frees what the elements own). A block that
 * seq_remove returns belongs to the caller (release with mg_free).
 *
 * Threads: a sequence is used by one thread at a time.
 */
#ifndef KORVO_RUNTIME_SEQ_H
#define KORVO_RUNTIME_SEQ_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* The layout of every sequence; KORVO_SEQUENCE(T) spells a typed one, e.g.
 *   typedef struct Properties KORVO_SEQUENCE(Property) Properties;
 * An all-zero header is an empty sequence. */
#define KORVO_SEQUENCE(T) \
    {                     \
        uint32_t maximum; \
        uint32_t length;  \
        T *buffer;        \
    }

typedef struct Sequence KORVO_SEQUENCE(void) Sequence;

/* Appends a copy of the `size` bytes at `element` and returns the new
 * element's index; the buffer grows (doubling, at least 8 slots) when it is
 * full. Returns -1, with the sequence unchanged, when memory is exhausted,
 * the sequence already holds INT32_MAX elements or an argument is NULL. */
KORVO_RUNTIME_EXPORT int32_t seq_add(void *seq, const void *element, size_t size);

/* Takes element `index` out of the sequence, moving the elements behind it
 * one slot down, and returns its bytes in a new block owned by the caller.
 * Returns NULL, with the sequence unchanged, when `index` is not below the
 * length, memory is exhausted or `seq` is NULL. */
KORVO_RUNTIME_EXPORT void *seq_remove(void *seq, uint32_t index, size_t size);

/* Releases the buffer (not what the elements own) and zeroes the header.
 * NULL is ignored. */
KORVO_RUNTIME_EXPORT void seq_free_buffer(void *seq);

KORVO_END_DECLS

#endif
