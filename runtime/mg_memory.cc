// The runtime's allocator family over the C heap. It is a family of its own
// so that the Kes heap and this one can be told apart by readers of the code
// and, if ever needed, by a debugging allocator.
#include "runtime/mg_memory.h"

#include <cstdlib>
#include <cstring>

extern "C" {

void *mg_malloc(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void *mg_calloc(size_t count, size_t size) {
    if (count == 0 || size == 0)
        return std::calloc(1, 1);
    return std::calloc(count, size);
}

void *mg_realloc(void *block, size_t size) {
    return std::realloc(block, size == 0 ? 1 : size);
}

char *mg_strdup(const char *text) {
    if (text == nullptr)
        return nullptr;
    const size_t length = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(std::malloc(length));
    if (copy != nullptr)
        std::memcpy(copy, text, length);
    return copy;
}

void mg_free(void *block) {
    std::free(block);
}
}
