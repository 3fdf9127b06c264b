// The runtime's allocator family, over the block pool of mg_pool.hpp. It is
// a family of its own: its blocks carry a header that the C heap does not
// know, so they are released with mg_free and nothing else.
#include "runtime/mg_memory.h"

#include <cstdint>
#include <cstring>

#include "runtime/mg_pool.hpp"

using korvo::rt::pool::allocate;

extern "C" {

void *mg_malloc(size_t size) {
    return allocate(size);
}

void *mg_calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size)
        return nullptr;
    void *block = allocate(count * size);
    if (block != nullptr)
        std::memset(block, 0, count * size);
    return block;
}

void *mg_realloc(void *block, size_t size) {
    return korvo::rt::pool::resize(block, size);
}

char *mg_strdup(const char *text) {
    if (text == nullptr)
        return nullptr;
    const size_t length = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(allocate(length));
    if (copy != nullptr)
        std::memcpy(copy, text, length);
    return copy;
}

void mg_free(void *block) {
    korvo::rt::pool::release(block);
}
}
