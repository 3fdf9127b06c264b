// The pool's heap blocks on Windows: the C runtime's aligned heap, since
// its malloc aligns to 8 only on 32-bit Windows (see mg_heap.hpp).
#include "runtime/mg_heap.hpp"

#include <malloc.h>

namespace korvo::rt::pool::detail {

namespace {
constexpr std::size_t kAlignment = 16;
}

void *heap_allocate(std::size_t size) {
    return ::_aligned_malloc(size == 0 ? 1 : size, kAlignment);
}

void *heap_resize(void *block, std::size_t size) {
    return ::_aligned_realloc(block, size == 0 ? 1 : size, kAlignment);
}

void heap_release(void *block) {
    ::_aligned_free(block);
}

}  // namespace korvo::rt::pool::detail
