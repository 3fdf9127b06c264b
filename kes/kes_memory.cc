// Kes memory operations: the C heap with the layer's null rules.
#include "kes/kes_memory.h"

#include <cstdlib>
#include <cstring>

#include "kes/kes_status.hpp"

extern "C" {

void *KesMemoryMalloc(size_t size) {
    return size == 0 ? nullptr : std::malloc(size);
}

void *KesMemoryCalloc(size_t count, size_t size) {
    return (count == 0 || size == 0) ? nullptr : std::calloc(count, size);
}

void *KesMemoryRealloc(void *block, size_t size) {
    // realloc(block, 0) may free the block; the layer promises it stays.
    return size == 0 ? nullptr : std::realloc(block, size);
}

void KesMemoryFree(void *block) {
    std::free(block);
}

int KesMemoryCmp(const void *a, const void *b, size_t n) {
    if (a == b)
        return 0;
    if (a == nullptr)
        return -1;
    if (b == nullptr)
        return 1;
    return std::memcmp(a, b, n);
}

void *KesMemoryCpy(void *dst, const void *src, ptrdiff_t n) {
    if (dst != src && dst != nullptr && src != nullptr && n > 0)
        std::memcpy(dst, src, static_cast<size_t>(n));
    return dst;
}

void *KesMemoryMove(void *dst, const void *src, ptrdiff_t n) {
    if (dst != src && dst != nullptr && src != nullptr && n > 0)
        std::memmove(dst, src, static_cast<size_t>(n));
    return dst;
}

KesStatus *KesMemorySet(KesStatus *status, void *dst, ptrdiff_t n, int byte) {
    if (dst == nullptr || n < 1)
        return korvo::kes::FillStatus(status, KES_INVALID);
    std::memset(dst, byte, static_cast<size_t>(n));
    return korvo::kes::FillStatus(status, KES_OK);
}
}
