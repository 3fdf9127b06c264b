// Slab memory on POSIX hosts: anonymous private mappings (see
// mg_slab_memory.hpp).
#include "runtime/mg_slab_memory.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace korvo::rt::pool::detail {

void *map_pages(std::size_t bytes) {
    void *memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

// Mapped with room to spare, then trimmed to the huge-page alignment.
void *map_huge_pages(std::size_t bytes) {
    const std::size_t room = bytes + kHugePageBytes;
    void *mapped = mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    if (aligned != start)
        munmap(mapped, aligned - start);
    if (const std::size_t tail = start + room - (aligned + bytes); tail != 0)
        munmap(reinterpret_cast<void *>(aligned + bytes), tail);
    auto *memory = reinterpret_cast<void *>(aligned);
    madvise(memory, bytes, MADV_HUGEPAGE);  // a hint: without it, small pages
    return memory;
}

bool unmap_pages(void *memory, std::size_t bytes) {
    return munmap(memory, bytes) == 0;
}

}  // namespace korvo::rt::pool::detail
