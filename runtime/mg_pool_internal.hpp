// What the pool's pieces share: the block tags and headers, the size
// classes, the slab classes and the shared pool's lists (see mg_pool.hpp).
// Internal to the runtime's pool files (mg_pool_magazines.cc,
// mg_pool_slabs.cc). The shared pool's lists are touched only under
// SharedLock; the thread's state only by its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/mg_pool.hpp"
#include "runtime/mg_pool_lock.hpp"

namespace korvo::rt::pool::detail {

constexpr std::size_t kHeader = 16;
constexpr std::size_t kStep = 16;
constexpr std::size_t kClasses = 16;
constexpr std::size_t kMaxSmall = kClasses * kStep;
constexpr std::uint64_t kLarge = ~std::uint64_t{0};
constexpr std::uint32_t kRounds = 126;

struct Header {
    std::uint64_t capacity;  // of a large block
    std::uint64_t tag;
};
static_assert(sizeof(Header) == kHeader);

// Slabs are 1 KiB to 2 MiB, by powers of 2.
constexpr std::size_t kSlabClasses = 12;
constexpr std::size_t kSmallestSlab = 1024;
constexpr std::int64_t kCarving = std::int64_t{1} << 40;  // the bias of an open slab
// The shared pool keeps up to kKeptFreeSlabBytes of free slabs: enough for
// the decodes of TOCs of a few thousand segments to find their slabs warm.

// Whether a thread's thread_local destructors still see its other
// thread_local objects as it left them. mingw-w64 emulates thread-local
// storage and releases a thread's copies before those destructors run,
// which then find fresh zeroed ones: there a count of freed carved blocks
// kept for the thread's exit would be lost with its slab, so each free is
// subtracted from its slab at once.
#if defined(_WIN32)
constexpr bool kExitSeesThreadState = false;
#else
constexpr bool kExitSeesThreadState = true;
#endif

// Where a slab's first block tag lies: its bytes must be aligned to 16.
constexpr std::size_t kFirstTag = (sizeof(Slab) + 8 + 15) / 16 * 16 - 8;
static_assert(kFirstTag % 16 == 8 && kFirstTag >= sizeof(Slab));

constexpr std::size_t slab_bytes(std::size_t slab_class) {
    return kSmallestSlab << slab_class;
}
static_assert(slab_bytes(kSlabClasses - 1) == kLargestSlabBytes);

struct Magazine {
    Magazine *next;  // in a list of the shared pool
    std::uint32_t count;
    void *rounds[kRounds];
};

inline Header *header_of(const void *block) {
    return reinterpret_cast<Header *>(static_cast<char *>(const_cast<void *>(block)) - kHeader);
}

inline void *block_of(Header *header) {
    return reinterpret_cast<char *>(header) + kHeader;
}

inline std::size_t class_of(std::size_t size) {
    return size == 0 ? 0 : (size - 1) / kStep;
}

inline std::size_t class_capacity(std::size_t size_class) {
    return (size_class + 1) * kStep;
}

bool carved_tag(std::uint64_t tag);

// ---- the shared pool: full and empty magazines, and the slabs carved -------

struct Shared {
    Magazine *full[kClasses] = {};  // some only partly full
    Magazine *empty = nullptr;
    void *stray[kClasses] = {};       // blocks freed when no magazine could be had,
                                      // linked through their first word
    Slab *slabs[kSlabClasses] = {};   // free slabs
    std::size_t free_slab_bytes = 0;  // of the slabs in `slabs`
};

extern Shared shared;

// Holds the shared pool's lock.
struct SharedLock {
    SharedLock() { lock_shared_pool(); }
    ~SharedLock() { unlock_shared_pool(); }
    SharedLock(const SharedLock &) = delete;
    SharedLock &operator=(const SharedLock &) = delete;
};

// ---- between the magazines and the slabs ----------------------------------

// Whether the calling thread has flushed its caches at exit: its blocks go
// straight to and from the shared pool.
bool thread_exiting();
// Registers the flush of the thread's caches at its exit (once).
void hook_thread_exit();
// Frees a carved block (tag: its tag) of another slab than the one this
// thread counts frees for, or perhaps the last of that slab's blocks.
void release_carved(void *block, std::uint64_t tag);
// Subtracts the frees freed_carved counts from their slab's count.
void subtract_freed();

}  // namespace korvo::rt::pool::detail
