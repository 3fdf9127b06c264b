// The plain-heap variant of the block pool, for the sanitizer builds: every
// block is a block of the C heap, so that the sanitizer sees each one, and a
// carver cuts nothing (see mg_pool.hpp). CMake builds this file instead of
// the magazines and the slabs when KORVO_MEMORY_POOL is "plain".
#include <cstdlib>

#include "runtime/mg_heap.hpp"
#include "runtime/mg_pool.hpp"

#ifndef KORVO_POOL_PLAIN_HEAP
#error "mg_pool_plain.cc needs KORVO_POOL_PLAIN_HEAP (KORVO_MEMORY_POOL=plain)"
#endif

namespace korvo::rt::pool {

using detail::heap_allocate;
using detail::heap_release;
using detail::heap_resize;

constinit thread_local FreedCarved freed_carved [[gnu::tls_model("initial-exec")]] = {};

void *allocate(std::size_t size) {
    return heap_allocate(size == 0 ? 1 : size);
}

void release_other(void *block) {
    heap_release(block);
}

void settle_freed_carved() {}

std::size_t slab_bytes_held() {
    return 0;
}

void *resize(void *block, std::size_t size) {
    return heap_resize(block, size == 0 ? 1 : size);
}

void *Carver::refill(std::size_t size) {
    return allocate(size);
}

void Carver::close() {}

}  // namespace korvo::rt::pool
