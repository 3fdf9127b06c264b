/* Memory operations of the Kes layer over the C heap. Everything a Kes
 * operation allocates for its caller (strings, handles, Base64 buffers) comes
 * from here and is released with KesMemoryFree, never with mg_free.
 *
 * Threads: any thread (the C heap).
 */
#ifndef KORVO_KES_KES_MEMORY_H
#define KORVO_KES_KES_MEMORY_H

#include <stddef.h>

#include "kes/kes_status.h"
#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* A block of `size` bytes; NULL when `size` is 0 or memory is exhausted. */
KORVO_EXPORT void *KesMemoryMalloc(size_t size);
/* A zero-filled block; NULL when either argument is 0 or memory is exhausted. */
KORVO_EXPORT void *KesMemoryCalloc(size_t count, size_t size);
/* The block resized; a size of 0 gives NULL and leaves `block` allocated. */
KORVO_EXPORT void *KesMemoryRealloc(void *block, size_t size);
/* Releases a Kes block; NULL is ignored. */
KORVO_EXPORT void KesMemoryFree(void *block);
/* 0 when `a` and `b` are the same pointer (two NULLs included); else a NULL
 * `a` gives -1, a NULL `b` 1, and otherwise memcmp of `n` bytes. */
KORVO_EXPORT int KesMemoryCmp(const void *a, const void *b, size_t n);
/* Copies `n` bytes and returns `dst`; copies nothing when dst == src, either
 * is NULL or n < 1. */
KORVO_EXPORT void *KesMemoryCpy(void *dst, const void *src, ptrdiff_t n);
/* As KesMemoryCpy, for ranges that may overlap. */
KORVO_EXPORT void *KesMemoryMove(void *dst, const void *src, ptrdiff_t n);
/* Fills `n` bytes of `dst` with `byte`: code 0; a NULL `dst` or n < 1 gives
 * code KES_INVALID and writes nothing. osError and step are 0 either way. */
KORVO_EXPORT KesStatus *KesMemorySet(KesStatus *status, void *dst, ptrdiff_t n, int byte);

KORVO_END_DECLS

#endif
