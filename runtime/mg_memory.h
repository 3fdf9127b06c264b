/* The runtime's allocator family. Every block that crosses the interface of
 * the property, record, stream and CDS families comes from here and is
 * released with mg_free; blocks of the Kes layer and the depot come from the
 * C heap and are released with KesMemoryFree. The caller owns every block
 * these functions return. Blocks of up to 256 bytes come from a pool that
 * keeps freed memory for reuse instead of returning it to the system; no
 * block of this family may be given to free() or realloc().
 *
 * Threads: any thread; a block may be freed by another thread than the one
 * that allocated it.
 */
#ifndef KORVO_RUNTIME_MG_MEMORY_H
#define KORVO_RUNTIME_MG_MEMORY_H

#include <stddef.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* A block of `size` bytes, or NULL when it cannot be had. */
KORVO_RUNTIME_EXPORT void *mg_malloc(size_t size);
/* A zero-filled block of `count` * `size` bytes, or NULL. */
KORVO_RUNTIME_EXPORT void *mg_calloc(size_t count, size_t size);
/* The block resized to `size` bytes (a new one when `block` is NULL), or NULL
 * with `block` untouched. */
KORVO_RUNTIME_EXPORT void *mg_realloc(void *block, size_t size);
/* A copy of `text`, or NULL when `text` is NULL or memory is exhausted. */
KORVO_RUNTIME_EXPORT char *mg_strdup(const char *text);
/* Releases a block of this family; NULL is ignored. */
KORVO_RUNTIME_EXPORT void mg_free(void *block);

KORVO_END_DECLS

#endif
