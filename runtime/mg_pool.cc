// The size-class pool of the mg_ family (see mg_pool.hpp).
//
// A block is a 16-byte header followed by the caller's bytes. The header's
// first word is the size class, or kLarge for a block of the C heap whose
// second word is its capacity.
//
// Free small blocks are held in magazines: arrays of up to kRounds block
// addresses. Each thread loads two magazines per class and allocates from
// and frees into them without a lock and without touching the blocks'
// memory; only when both are empty (or both full) does it trade one with
// the shared pool, under its lock: a full one for an empty one, or the
// other way round. New blocks are carved from C heap slabs a magazine at a
// time. A thread that ends gives its magazines back. Magazines and slabs
// stay for the life of the process.
#include "runtime/mg_pool.hpp"

#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVO_POOL_PLAIN_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVO_POOL_PLAIN_HEAP 1
#endif

namespace korvo::rt::pool {

#ifdef KORVO_POOL_PLAIN_HEAP

void *allocate(std::size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void release(void *block) {
    std::free(block);
}

void *resize(void *block, std::size_t size) {
    return std::realloc(block, size == 0 ? 1 : size);
}

#else

namespace {

constexpr std::size_t kHeader = 16;
constexpr std::size_t kStep = 16;
constexpr std::size_t kClasses = 16;
constexpr std::size_t kMaxSmall = kClasses * kStep;
constexpr std::uint64_t kLarge = ~std::uint64_t{0};
constexpr std::uint32_t kRounds = 126;

struct Header {
    std::uint64_t size_class;
    std::uint64_t capacity;  // of a large block
};
static_assert(sizeof(Header) == kHeader);

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
    void *stray[kClasses] = {};  // blocks freed when no magazine could be had,
                                 // linked through their first word
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

// Fills an empty magazine with new blocks of the class, carved from one slab.
bool carve(std::size_t size_class, Magazine *magazine) {
    const std::size_t stride = kHeader + class_capacity(size_class);
    auto *slab = static_cast<char *>(std::malloc(stride * kRounds));
    if (slab == nullptr)
        return false;
    for (std::uint32_t i = 0; i < kRounds; ++i) {
        auto *header = reinterpret_cast<Header *>(slab + stride * (kRounds - 1 - i));
        header->size_class = size_class;
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
        if (!carve(size_class, full)) {
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
[[gnu::noinline]] void give_back(std::size_t size_class, void *block) {
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

// The usable bytes of a block.
std::size_t capacity(const void *block) {
    const Header *header = header_of(block);
    return header->size_class == kLarge ? header->capacity : class_capacity(header->size_class);
}

void *allocate_large(std::size_t size) {
    if (size > SIZE_MAX - kHeader)
        return nullptr;
    auto *header = static_cast<Header *>(std::malloc(kHeader + size));
    if (header == nullptr)
        return nullptr;
    *header = Header{kLarge, size};
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

void release(void *block) {
    if (block == nullptr)
        return;
    Header *header = header_of(block);
    const std::uint64_t size_class = header->size_class;
    if (size_class == kLarge) {
        std::free(header);
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
    give_back(size_class, block);
}

void *resize(void *block, std::size_t size) {
    if (block == nullptr)
        return allocate(size);
    Header *header = header_of(block);
    if (header->size_class == kLarge && size > kMaxSmall) {
        if (size > SIZE_MAX - kHeader)
            return nullptr;
        auto *grown = static_cast<Header *>(std::realloc(header, kHeader + size));
        if (grown == nullptr)
            return nullptr;
        grown->capacity = size;
        return block_of(grown);
    }
    const std::size_t held = capacity(block);
    if (size <= held && header->size_class != kLarge)
        return block;
    void *moved = allocate(size);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, block, held < size ? held : size);
    release(block);
    return moved;
}

#endif

}  // namespace korvo::rt::pool
