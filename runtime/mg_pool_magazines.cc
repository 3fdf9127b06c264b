// The size-class pool of the mg_ family: its magazines (see mg_pool.hpp).
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
#include "runtime/mg_pool.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/mg_heap.hpp"
#include "runtime/mg_pool_internal.hpp"

#ifdef KORVO_POOL_PLAIN_HEAP
#error "the sanitizer build takes mg_pool_plain.cc (KORVO_MEMORY_POOL=plain)"
#endif

namespace korvo::rt::pool {

constinit thread_local FreedCarved freed_carved [[gnu::tls_model("initial-exec")]] = {};

namespace detail {

constinit Shared shared;

namespace {

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
    auto *magazine = static_cast<Magazine *>(heap_allocate(sizeof(Magazine)));
    if (magazine != nullptr)
        magazine->count = 0;
    return magazine;
}

// Fills an empty magazine with new blocks of the class, cut from one chunk
// of the C heap.
bool fill_new(std::size_t size_class, Magazine *magazine) {
    const std::size_t stride = kHeader + class_capacity(size_class);
    auto *slab = static_cast<char *>(heap_allocate(stride * kRounds));
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
    auto *header = static_cast<Header *>(heap_allocate(kHeader + size));
    if (header == nullptr)
        return nullptr;
    *header = Header{size, kLarge};
    return block_of(header);
}

}  // namespace

bool thread_exiting() {
    return cache.exiting;
}

void hook_thread_exit() {
    hook_thread_exit(cache);
}

bool carved_tag(std::uint64_t tag) {
    return tag >= kClasses && tag != kLarge;
}

}  // namespace detail

using namespace detail;

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
            heap_release(header_of(block));
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
        auto *grown = static_cast<Header *>(heap_resize(header, kHeader + size));
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

}  // namespace korvo::rt::pool
