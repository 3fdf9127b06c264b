// Slab memory on Windows: committed virtual memory, zeroed by the system
// (see mg_slab_memory.hpp). Large pages need a privilege that processes do
// not hold, so the largest slabs are plain pages; VirtualAlloc aligns every
// region to its 64 KiB granularity, and a huge-page slab is reserved on a
// huge-page boundary when one is free there.
#include "runtime/mg_slab_memory.hpp"

#include <windows.h>

#include <cstdint>

namespace korvo::rt::pool::detail {

void *map_pages(std::size_t bytes) {
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

// Windows cannot give back part of a region, so the room is reserved, let
// go, and the aligned part taken at once; another thread may take that
// address in between, and then a few more tries are made before an
// unaligned region is taken (the alignment only helps the system's TLB).
void *map_huge_pages(std::size_t bytes) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        void *room = ::VirtualAlloc(nullptr, bytes + kHugePageBytes, MEM_RESERVE, PAGE_NOACCESS);
        if (room == nullptr)
            break;
        const auto start = reinterpret_cast<std::uintptr_t>(room);
        const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
        ::VirtualFree(room, 0, MEM_RELEASE);
        if (void *memory = ::VirtualAlloc(reinterpret_cast<void *>(aligned), bytes,
                                          MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
            return memory;
    }
    return map_pages(bytes);
}

bool unmap_pages(void *memory, std::size_t) {
    return ::VirtualFree(memory, 0, MEM_RELEASE) != 0;
}

}  // namespace korvo::rt::pool::detail
