// The pool's heap blocks on POSIX hosts: the C library's malloc already
// aligns to 16 on the 64-bit hosts we build for (see mg_heap.hpp).
#include "runtime/mg_heap.hpp"

#include <cstdlib>

namespace korvo::rt::pool::detail {

static_assert(alignof(std::max_align_t) >= 16, "malloc must align to 16 on this host");

void *heap_allocate(std::size_t size) {
    return std::malloc(size);
}

void *heap_resize(void *block, std::size_t size) {
    return std::realloc(block, size);
}

void heap_release(void *block) {
    std::free(block);
}

}  // namespace korvo::rt::pool::detail
