// Sequence growth and removal over the runtime's allocator.
#include "runtime/seq.h"

#include <cstring>

#include "runtime/mg_memory.h"

extern "C" {

int32_t seq_add(void *seq, const void *element, size_t size) {
    if (seq == nullptr || element == nullptr || size == 0)
        return -1;
    auto &s = *static_cast<Sequence *>(seq);
    if (s.length == UINT32_MAX || s.length > INT32_MAX)
        return -1;
    if (s.length >= s.maximum || s.buffer == nullptr) {
        uint64_t slots = s.maximum < 4 ? 8 : uint64_t{s.maximum} * 2;
        if (slots > UINT32_MAX)
            slots = UINT32_MAX;
        if (slots <= s.length)
            return -1;
        if (slots > SIZE_MAX / size)
            return -1;
        void *grown = mg_realloc(s.buffer, static_cast<size_t>(slots) * size);
        if (grown == nullptr)
            return -1;
        s.buffer = grown;
        s.maximum = static_cast<uint32_t>(slots);
    }
    std::memcpy(static_cast<char *>(s.buffer) + size_t{s.length} * size, element, size);
    return static_cast<int32_t>(s.length++);
}

void *seq_remove(void *seq, uint32_t index, size_t size) {
    if (seq == nullptr || size == 0)
        return nullptr;
    auto &s = *static_cast<Sequence *>(seq);
    if (index >= s.length || s.buffer == nullptr)
        return nullptr;
    void *removed = mg_malloc(size);
    if (removed == nullptr)
        return nullptr;
    char *slot = static_cast<char *>(s.buffer) + size_t{index} * size;
    std::memcpy(removed, slot, size);
    std::memmove(slot, slot + size, size_t{s.length - index - 1} * size);
    --s.length;
    return removed;
}

void seq_free_buffer(void *seq) {
    if (seq == nullptr)
        return;
    auto &s = *static_cast<Sequence *>(seq);
    mg_free(s.buffer);
    s = Sequence{0, 0, nullptr};
}
}
