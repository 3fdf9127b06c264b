// The size-class pool of the mg_ family (see mg_pool.hpp).
//
// Every block is preceded by its tag, the 8 bytes right before it: the size
// class of a small block, kLarge for a block of the C heap (whose capacity
// is in the 8 bytes before the tag), or for a carved block its distance from
// its slab (high 32 bits) and its capacity (low 32 bits); the distance is
// never 0, so a carved tag is above every class and below kLarge.
//
// Free small blocks are held in magazines: arrays of up to kRounds block
// addresses. Each thread loads two magazines per class and allocates from
// and frees into them without a lock and without touching the blocks'
// memory; only when both are empty (or both full) does it trade one with
// the shared pool, under its lock: a full one for an empty one, or the
// other way round. New blocks are cut from chunks of the C heap a magazine
// at a time. A thread that ends gives its magazines back. Magazines and
// chunks stay for the life of the process.
//
// A carver's slab counts its live blocks in `live`, which holds a large bias
// while the carver still cuts from it, so that it cannot reach 0 before the
// carver closes it and adds the number of blocks cut. Freeing a carved block
// does not touch the count at once: each thread counts its frees into the
// slab it last freed into and subtracts them in one step when it frees into
// another slab, when it has freed every block the slab still counts, or when
// it ends. Whoever brings the count to 0 gives the slab back to the shared
// pool, which keeps free slabs by size for the next carver, up to
// kKeptFreeSlabBytes in all; a slab beyond that goes back to the system at
// once. Slabs of a page or more are mapped from the system on their own
// (mmap) and unmapped when given back, so that the memory of a large
// decoded value leaves the process when the value is freed; smaller slabs
// come from the C heap and go back to it. The largest slabs, which a large
// decode is cut from, are 2 MiB huge-page mappings: a fresh one costs one
// page fault instead of 512, so that mapping anew after giving back stays
// cheap.
#include "runtime/mg_pool.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace korvo::rt::pool {

constinit thread_local FreedCarved freed_carved [[gnu::tls_model("initial-exec")]] = {};

#ifdef KORVO_POOL_PLAIN_HEAP

void *allocate(std::size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void release_other(void *block) {
    std::free(block);
}

void settle_freed_carved() {}

std::size_t slab_bytes_held() {
    return 0;
}

void *resize(void *block, std::size_t size) {
    return std::realloc(block, size == 0 ? 1 : size);
}

void *Carver::refill(std::size_t size) {
    return allocate(size);
}

void Carver::close() {}

#else

namespace {

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
// Slabs of at least a page are mappings of their own; those of a huge page
// are mappings of huge pages where the system offers them.
constexpr std::size_t kPageBytes = 4096;
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

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

// ---- the shared pool: full and empty magazines, and the slabs carved -------

struct Shared {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    Magazine *full[kClasses] = {};  // some only partly full
    Magazine *empty = nullptr;
    void *stray[kClasses] = {};       // blocks freed when no magazine could be had,
                                      // linked through their first word
    Slab *slabs[kSlabClasses] = {};   // free slabs
    std::size_t free_slab_bytes = 0;  // of the slabs in `slabs`
};

constinit Shared shared;

struct SharedLock {
    SharedLock() { pthread_mutex_lock(&shared.lock); }
    ~SharedLock() { pthread_mutex_unlock(&shared.lock); }
    SharedLock(const SharedLock &) = delete;
    SharedLock &operator=(const SharedLock &) = delete;
};

// A child of fork() must not inherit the lock held by a thread that does not
// exist there.
const int fork_hooks = pthread_atfork([] { pthread_mutex_lock(&shared.lock); },
                                      [] { pthread_mutex_unlock(&shared.lock); },
                                      [] { pthread_mutex_unlock(&shared.lock); });

Magazine *pop(Magazine *&list) {
    Magazine *magazine = list;
    if (magazine != nullptr)
        list = magazine->next;
    return magazine;
}

void push(Magazine *&list, Magazine *magazine) {
    magazine->next = list;
    list = magazine;
}

// Hands a magazine the thread no longer loads to the shared pool. The
// caller holds the shared lock.
void retire(std::size_t size_class, Magazine *magazine) {
    push(magazine->count != 0 ? shared.full[size_class] : shared.empty, magazine);
}

// A magazine with none of its rounds in use, or nullptr.
Magazine *empty_magazine() {
    {
        SharedLock guard;
        if (Magazine *magazine = pop(shared.empty))
            return magazine;
    }
    auto *magazine = static_cast<Magazine *>(std::malloc(sizeof(Magazine)));
    if (magazine != nullptr)
        magazine->count = 0;
    return magazine;
}

// Fills an empty magazine with new blocks of the class, cut from one chunk
// of the C heap.
bool fill_new(std::size_t size_class, Magazine *magazine) {
    const std::size_t stride = kHeader + class_capacity(size_class);
    auto *slab = static_cast<char *>(std::malloc(stride * kRounds));
    if (slab == nullptr)
        return false;
    for (std::uint32_t i = 0; i < kRounds; ++i) {
        auto *header = reinterpret_cast<Header *>(slab + stride * (kRounds - 1 - i));
        header->tag = size_class;
        magazine->rounds[i] = block_of(header);
    }
    magazine->count = kRounds;
    return true;
}

// ---- the thread's magazines ---------------------------------------------------

struct ThreadCache {
    Magazine *loaded[kClasses];
    Magazine *previous[kClasses];
    bool hooked;   // the flush at thread exit is registered
    bool exiting;  // flushed: blocks go straight to and from the shared pool
};

constinit thread_local ThreadCache cache [[gnu::tls_model("initial-exec")]] = {};

// ---- slabs ------------------------------------------------------------------

// Bytes of slabs taken from the system and not yet given back to it.
std::atomic<std::size_t> held_slab_bytes{0};

// A mapping of `bytes` (a multiple of kHugePageBytes) aligned to a huge
// page and marked for huge pages, so that it is faulted in and unmapped a
// huge page at a time: mapped with room to spare, then trimmed.
void *map_huge(std::size_t bytes) {
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

// A new slab of the class from the system, or nullptr.
Slab *new_slab(std::size_t slab_class) {
    const std::size_t bytes = slab_bytes(slab_class);
    void *memory = nullptr;
    if (bytes >= kHugePageBytes) {
        if ((memory = map_huge(bytes)) == nullptr)
            return nullptr;
    } else if (bytes >= kPageBytes) {
        memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return nullptr;
    } else if ((memory = std::malloc(bytes)) == nullptr) {
        return nullptr;
    }
    held_slab_bytes.fetch_add(bytes, std::memory_order_relaxed);
    auto *slab = static_cast<Slab *>(memory);
    slab->size_class = slab_class;
    slab->bytes = bytes;
    return slab;
}

// Returns a slab none of whose blocks is in use to the system. False when
// the system refuses (munmap fails when splitting a mapping would pass the
// process's limit of mappings), and then the slab is still the caller's.
bool delete_slab(Slab *slab) {
    const std::size_t bytes = slab->bytes;
    if (bytes >= kPageBytes) {
        if (munmap(slab, bytes) != 0)
            return false;
    } else {
        std::free(slab);
    }
    held_slab_bytes.fetch_sub(bytes, std::memory_order_relaxed);
    return true;
}

// Puts a free slab on the shared pool's list. The caller holds the lock.
void keep(Slab *slab) {
    slab->next = shared.slabs[slab->size_class];
    shared.slabs[slab->size_class] = slab;
    shared.free_slab_bytes += slab->bytes;
}

// A slab none of whose blocks is in use: kept for the next carver while the
// free slabs kept stay within kKeptFreeSlabBytes, else given back (or kept
// all the same when the system will not take it).
void give_back(Slab *slab) {
    {
        SharedLock guard;
        if (shared.free_slab_bytes + slab->bytes <= kKeptFreeSlabBytes) {
            keep(slab);
            return;
        }
    }
    if (!delete_slab(slab)) {
        SharedLock guard;
        keep(slab);
    }
}

// A slab of the class, counting as open, or nullptr.
Slab *take_slab(std::size_t slab_class) {
    Slab *slab = nullptr;
    {
        SharedLock guard;
        slab = shared.slabs[slab_class];
        if (slab != nullptr) {
            shared.slabs[slab_class] = slab->next;
            shared.free_slab_bytes -= slab->bytes;
        }
    }
    if (slab == nullptr && (slab = new_slab(slab_class)) == nullptr)
        return nullptr;
    slab->live.store(kCarving, std::memory_order_relaxed);
    return slab;
}

// Subtracts `count` freed blocks from the slab's count.
void subtract(Slab *slab, std::int64_t count) {
    if (slab->live.fetch_sub(count, std::memory_order_acq_rel) == count)
        give_back(slab);
}

void subtract_freed() {
    FreedCarved &freed = freed_carved;
    if (freed.slab != nullptr)
        subtract(freed.slab, freed.count);
    freed = FreedCarved{nullptr, 0, 0, 0};
}

}  // namespace

void settle_freed_carved() {
    subtract_freed();
}

std::size_t slab_bytes_held() {
    return held_slab_bytes.load(std::memory_order_relaxed);
}

namespace {

void flush_thread() {
    ThreadCache &own = cache;
    subtract_freed();
    SharedLock guard;
    for (std::size_t c = 0; c < kClasses; ++c)
        for (Magazine **slot : {&own.loaded[c], &own.previous[c]}) {
            if (*slot != nullptr)
                retire(c, *slot);
            *slot = nullptr;
        }
    own.exiting = true;
}

struct ThreadExit {
    ~ThreadExit() { flush_thread(); }
};

thread_local ThreadExit thread_exit;

void hook_thread_exit(ThreadCache &own) {
    if (!own.hooked && !own.exiting) {
        own.hooked = true;
        static_cast<void>(&thread_exit);  // constructs it, so it runs at exit
    }
}

// Loads a magazine of the class: the loaded one becomes the previous one,
// and the previous one goes to the shared pool. After a flush at thread
// exit, the magazine goes to the shared pool at once.
void load(ThreadCache &own, std::size_t size_class, Magazine *magazine) {
    Magazine *retired = magazine;
    if (!own.exiting) {
        retired = own.previous[size_class];
        own.previous[size_class] = own.loaded[size_class];
        own.loaded[size_class] = magazine;
    }
    if (retired != nullptr) {
        SharedLock guard;
        retire(size_class, retired);
    }
}

// Both magazines of the class are empty (or missing): load a full one of
// the shared pool, or new blocks, and take a block from it.
[[gnu::noinline]] void *refill_and_take(std::size_t size_class) {
    ThreadCache &own = cache;
    hook_thread_exit(own);
    Magazine *full = nullptr;
    {
        SharedLock guard;
        if (void *stray = shared.stray[size_class]) {
            shared.stray[size_class] = *static_cast<void **>(stray);
            return stray;
        }
        full = pop(shared.full[size_class]);
    }
    if (full == nullptr) {
        full = empty_magazine();
        if (full == nullptr)
            return nullptr;
        if (!fill_new(size_class, full)) {
            SharedLock guard;
            push(shared.empty, full);
            return nullptr;
        }
    }
    void *block = full->rounds[--full->count];
    load(own, size_class, full);
    return block;
}

// Both magazines of the class are full (or missing): load an empty one and
// put the block in it.
[[gnu::noinline]] void give_back_block(std::size_t size_class, void *block) {
    ThreadCache &own = cache;
    hook_thread_exit(own);
    Magazine *magazine = empty_magazine();
    if (magazine == nullptr) {
        // No memory for a magazine: the block waits in the shared pool's
        // list of strays, which allocation looks at first.
        SharedLock guard;
        *static_cast<void **>(block) = shared.stray[size_class];
        shared.stray[size_class] = block;
        return;
    }
    magazine->rounds[magazine->count++] = block;
    load(own, size_class, magazine);
}

// A carved block of another slab than the one this thread counts frees
// for, or perhaps the last of that slab's blocks.
void release_carved(void *block, std::uint64_t tag) {
    auto *slab = reinterpret_cast<Slab *>(static_cast<char *>(block) - (tag >> 32));
    ThreadCache &own = cache;
    if (own.exiting) {
        subtract(slab, 1);
        return;
    }
    FreedCarved &freed = freed_carved;
    if (freed.slab != slab) {
        subtract_freed();
        freed = FreedCarved{slab, slab->bytes, 0, 0};
        hook_thread_exit(own);
    }
    // Once this thread has freed every block the slab still counts, no one
    // else can: the slab is done. While a carver still cuts from the slab,
    // every free of its blocks comes here (limit 0) to look again.
    ++freed.count;
    const std::int64_t live = freed.slab->live.load(std::memory_order_relaxed);
    if (freed.count == live)
        subtract_freed();
    else
        freed.limit = live < kCarving ? live : 0;
}

bool carved_tag(std::uint64_t tag) {
    return tag >= kClasses && tag != kLarge;
}

std::uint64_t tag_of(const void *block) {
    std::uint64_t tag;
    std::memcpy(&tag, static_cast<const char *>(block) - 8, sizeof tag);
    return tag;
}

// The usable bytes of a block.
std::size_t capacity(const void *block) {
    const std::uint64_t tag = tag_of(block);
    if (tag == kLarge)
        return header_of(block)->capacity;
    return carved_tag(tag) ? tag & 0xffffffffu : class_capacity(tag);
}

void *allocate_large(std::size_t size) {
    if (size > SIZE_MAX - kHeader)
        return nullptr;
    auto *header = static_cast<Header *>(std::malloc(kHeader + size));
    if (header == nullptr)
        return nullptr;
    *header = Header{size, kLarge};
    return block_of(header);
}

}  // namespace

void *allocate(std::size_t size) {
    if (size > kMaxSmall)
        return allocate_large(size);
    const std::size_t size_class = class_of(size);
    ThreadCache &own = cache;
    Magazine *loaded = own.loaded[size_class];
    if (loaded != nullptr && loaded->count != 0) [[likely]]
        return loaded->rounds[--loaded->count];
    Magazine *previous = own.previous[size_class];
    if (previous != nullptr && previous->count != 0) {
        own.previous[size_class] = loaded;
        own.loaded[size_class] = previous;
        return previous->rounds[--previous->count];
    }
    return refill_and_take(size_class);
}

void release_other(void *block) {
    if (block == nullptr)
        return;
    const std::uint64_t size_class = tag_of(block);
    if (size_class >= kClasses) [[unlikely]] {
        if (size_class == kLarge)
            std::free(header_of(block));
        else
            release_carved(block, size_class);
        return;
    }
    ThreadCache &own = cache;
    Magazine *loaded = own.loaded[size_class];
    if (loaded != nullptr && loaded->count != kRounds) [[likely]] {
        loaded->rounds[loaded->count++] = block;
        return;
    }
    Magazine *previous = own.previous[size_class];
    if (previous != nullptr && previous->count != kRounds) {
        own.previous[size_class] = loaded;
        own.loaded[size_class] = previous;
        previous->rounds[previous->count++] = block;
        return;
    }
    give_back_block(size_class, block);
}

void *resize(void *block, std::size_t size) {
    if (block == nullptr)
        return allocate(size);
    Header *header = header_of(block);
    const std::uint64_t tag = tag_of(block);
    if (tag == kLarge && size > kMaxSmall) {
        if (size > SIZE_MAX - kHeader)
            return nullptr;
        auto *grown = static_cast<Header *>(std::realloc(header, kHeader + size));
        if (grown == nullptr)
            return nullptr;
        grown->capacity = size;
        return block_of(grown);
    }
    const std::size_t held = capacity(block);
    if (size <= held && tag != kLarge)
        return block;
    void *moved = allocate(size);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, block, held < size ? held : size);
    release(block);
    return moved;
}

void *Carver::refill(std::size_t size) {
    if (size > kMaxCarved)
        return pool::allocate(size);
    // The first slab fits the work's hint; each later one is twice the one
    // before, up to the largest, so that work that outgrows its hint by a
    // little does not fault in a huge page for it.
    std::size_t wanted = slabs_ == 0 ? hint_ + kFirstTag + kMaxCarved + 16 : SIZE_MAX;
    if (slab_ != nullptr) {
        wanted = 2 * reinterpret_cast<Slab *>(slab_)->bytes;
        close();
    }
    std::size_t slab_class = 0;
    while (slab_class + 1 < kSlabClasses && slab_bytes(slab_class) < wanted)
        ++slab_class;
    Slab *slab = take_slab(slab_class);
    if (slab == nullptr)
        return pool::allocate(size);
    ++slabs_;
    slab_ = reinterpret_cast<char *>(slab);
    next_ = slab_ + kFirstTag;
    end_ = slab_ + slab_bytes(slab_class);
    carved_ = 0;
    return allocate(size);
}

void Carver::close() {
    auto *slab = reinterpret_cast<Slab *>(slab_);
    const std::int64_t change = carved_ - kCarving;
    if (slab->live.fetch_add(change, std::memory_order_acq_rel) + change == 0)
        give_back(slab);
    slab_ = next_ = end_ = nullptr;
}

#endif

}  // namespace korvo::rt::pool
