// The block pool behind the mg_ family. Property lists are made of many
// small blocks (a key, a value cell, a string, a sequence buffer each), so
// small blocks of sixteen size classes (16 to 256 bytes) come from
// per-thread caches that trade with a shared pool in batches; larger blocks
// come from the C heap. Every block carries a header naming its class, so a
// block may be freed by any thread. Small blocks go back to the pool, never
// to the system: the memory held is the most ever in use at once.
//
// A Carver cuts the blocks of one piece of work (a decode) one after another
// from slabs, with an 8-byte header each: no per-block bookkeeping, and the
// blocks of a list lie side by side. Each block is still freed alone, by any
// thread, with release(); a slab counts the blocks not yet freed and goes
// back to the pool with the last of them. The pool keeps a few MiB of free
// slabs for the next carvers and gives the others back to the system, so
// the memory of a large decoded value leaves the process when it is freed.
//
// Built with AddressSanitizer, the pool steps aside and every block is a
// plain C heap block, so that the sanitizer sees each one: CMake then builds
// mg_pool_plain.cc instead of the magazines (mg_pool_magazines.cc) and the
// slab carver (mg_pool_slabs.cc); KORVO_MEMORY_POOL chooses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVO_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVO_ADDRESS_SANITIZER 1
#endif
#if defined(KORVO_ADDRESS_SANITIZER) && !defined(KORVO_POOL_PLAIN_HEAP)
#define KORVO_POOL_PLAIN_HEAP 1
#endif

namespace korvo::rt::pool {

// A block of at least `size` bytes aligned to 16, or nullptr.
void *allocate(std::size_t size);
// Returns a block of allocate() or of a Carver (nullptr is ignored).
inline void release(void *block);
// The block grown or shrunk to `size` bytes with its contents kept, or
// nullptr with the block untouched.
void *resize(void *block, std::size_t size);

// Cuts blocks for one thread's piece of work. Blocks of up to kMaxCarved
// bytes come from slabs taken as needed: the first sized by `hint` (the
// bytes the work expects to need), each next one twice the one before, up
// to kLargestSlabBytes.
// Larger blocks come from allocate(). The carver must be used by the thread
// that made it; its blocks may be released anywhere, before or after the
// carver ends.
class Carver {
  public:
    explicit Carver(std::size_t hint) : hint_(hint) {}
    ~Carver() {
        if (slab_ != nullptr)
            close();
    }
    Carver(const Carver &) = delete;
    Carver &operator=(const Carver &) = delete;

    static constexpr std::size_t kMaxCarved = 1024;

    // A block of at least `size` bytes aligned to 16, or nullptr.
    void *allocate(std::size_t size) {
#ifdef KORVO_POOL_PLAIN_HEAP
        return pool::allocate(size);
#else
        const std::size_t span = span_of(size);
        if (size <= kMaxCarved && static_cast<std::size_t>(end_ - next_) >= span) [[likely]] {
            char *at = next_;
            next_ += span;
            ++carved_;
            put_tag(at, static_cast<std::uint64_t>(at + kTag - slab_), span);
            return at + kTag;
        }
        return refill(size);
#endif
    }

    // Where the carver cuts next. A loop that cuts many blocks takes it into
    // a local (which the compiler keeps in registers, as the bytes written
    // into the blocks cannot overwrite it), cuts with allocate_three, and
    // puts it back before anything else cuts from the carver.
    struct Cursor {
        char *slab;
        char *next;
        char *end;
        std::int64_t carved;
    };
    Cursor cursor() const {
        return Cursor{slab_, next_, end_, carved_};
    }
    void resume(const Cursor &cursor) {
        slab_ = cursor.slab;
        next_ = cursor.next;
        end_ = cursor.end;
        carved_ = cursor.carved;
    }

    // Two or three blocks at once from the cursor's slab, with one check of
    // the room left, for a decoder that cuts a key, a value cell and the
    // value's bytes per step (`third` 0: no third block). False when they do
    // not all fit, and then nothing is cut.
    static bool allocate_three(Cursor &at, std::size_t first, std::size_t second, std::size_t third,
                               void *&block1, void *&block2, void *&block3) {
#ifdef KORVO_POOL_PLAIN_HEAP
        static_cast<void>(at), static_cast<void>(first), static_cast<void>(second);
        static_cast<void>(third), static_cast<void>(block1), static_cast<void>(block2);
        static_cast<void>(block3);
        return false;
#else
        if ((first | second | third) > kMaxCarved)
            return false;
        const std::size_t span1 = span_of(first);
        const std::size_t span2 = span_of(second);
        const std::size_t span3 = third != 0 ? span_of(third) : 0;
        char *const start = at.next;
        if (static_cast<std::size_t>(at.end - start) < span1 + span2 + span3)
            return false;
        at.next = start + span1 + span2 + span3;
        at.carved += third != 0 ? 3 : 2;
        const std::uint64_t distance = static_cast<std::uint64_t>(start + kTag - at.slab);
        put_tag(start, distance, span1);
        put_tag(start + span1, distance + span1, span2);
        block1 = start + kTag;
        block2 = start + span1 + kTag;
        if (third != 0) {
            put_tag(start + span1 + span2, distance + span1 + span2, span3);
            block3 = start + span1 + span2 + kTag;
        }
        return true;
#endif
    }

  private:
    static constexpr std::size_t kTag = 8;

    // Each block is its 8-byte tag and its bytes, rounded so that the next
    // block's bytes are aligned to 16 too.
    static std::size_t span_of(std::size_t size) {
        return (size + kTag + 15) & ~std::size_t{15};
    }

    // The tag: the block's distance from its slab, and its capacity.
    static void put_tag(char *at, std::uint64_t distance, std::size_t span) {
        const std::uint64_t tag = distance << 32 | std::uint64_t(span - kTag);
        std::memcpy(at, &tag, sizeof tag);
    }

    // Takes the next slab (or hands a large block over to allocate()).
    void *refill(std::size_t size);
    // Lets go of the current slab: its count becomes the blocks cut from it
    // and not yet freed.
    void close();

    char *slab_ = nullptr;
    char *next_ = nullptr;  // where the next block's tag goes
    char *end_ = nullptr;
    std::int64_t carved_ = 0;              // blocks cut from the current slab
    [[maybe_unused]] std::size_t hint_;    // (the sanitizer build carves nothing)
    [[maybe_unused]] unsigned slabs_ = 0;  // slabs taken so far
};

// A carver's slab: the count of its blocks not yet freed (plus a large bias
// while a carver still cuts from it), then its blocks.
struct Slab {
    std::atomic<std::int64_t> live;
    Slab *next;  // in a list of the shared pool
    std::size_t size_class;
    std::size_t bytes;
};

// The carved blocks this thread freed last: their slab, and how many of them
// it has not yet subtracted from the slab's count. A block is known to be
// the slab's by its address alone, without reading its tag: while the slab
// has blocks not yet freed, its memory holds nothing else. `limit` is the
// slab's count when the thread began to count for it; a thread that reaches
// it may have freed the slab's last block, and looks.
struct FreedCarved {
    Slab *slab;
    std::uintptr_t bytes;  // of the slab; 0 when there is none
    std::int64_t count;
    std::int64_t limit;

    // Counts the block when it is the slab's and not perhaps its last.
    bool count_quickly(const void *block) {
        const std::uintptr_t offset =
            reinterpret_cast<std::uintptr_t>(block) - reinterpret_cast<std::uintptr_t>(slab);
        if (offset < bytes && count + 1 < limit) {
            ++count;
            return true;
        }
        return false;
    }
};
extern constinit thread_local FreedCarved freed_carved [[gnu::tls_model("initial-exec")]];

// release() for every block but one that FreedCarved counts quickly.
void release_other(void *block);

// Whether a block was cut by a carver: its tag (the 8 bytes before it) holds
// its distance from its slab in the high half, where the tag of a pool
// block holds 0 (a size class) or all ones (a block of the C heap).
inline bool is_carved(const void *block) {
    std::uint64_t tag;
    std::memcpy(&tag, static_cast<const char *>(block) - 8, sizeof tag);
    return tag >> 32 != 0 && tag != ~std::uint64_t{0};
}
// Subtracts the frees freed_carved counts from their slab's count.
void settle_freed_carved();

// The bytes of carvers' slabs the pool holds from the system, in use or
// kept free (0 in the sanitizer build). Any thread.
std::size_t slab_bytes_held();
// The most bytes of free slabs the pool keeps for the next carvers.
inline constexpr std::size_t kKeptFreeSlabBytes = std::size_t{4} << 20;
// The size of the largest slabs.
inline constexpr std::size_t kLargestSlabBytes = std::size_t{2} << 20;

inline void release(void *block) {
#ifndef KORVO_POOL_PLAIN_HEAP
    if (freed_carved.count_quickly(block))
        return;
#endif
    release_other(block);
}

// Frees many blocks on one thread, as release() does, with the count of
// carved blocks freed kept in the releaser (a local of the loop that frees a
// list) until it ends, instead of in thread-local storage.
class Releaser {
  public:
    Releaser() { resume(); }
    ~Releaser() { suspend(); }
    Releaser(const Releaser &) = delete;
    Releaser &operator=(const Releaser &) = delete;

    void release(void *block) {
#ifndef KORVO_POOL_PLAIN_HEAP
        if (freed_.count_quickly(block))
            return;
        // Only a carved block has the thread's count of freed carved blocks
        // changed.
        if (block == nullptr || !is_carved(block)) {
            release_other(block);
            return;
        }
#endif
        suspend();
        release_other(block);
        resume();
    }

    // Around work that frees blocks through release() meanwhile.
    void suspend() {
        if (freed_.slab != nullptr) {
            if (freed_carved.slab != nullptr)
                settle_freed_carved();
            freed_carved = freed_;
            freed_ = FreedCarved{nullptr, 0, 0, 0};
        }
    }
    void resume() {
        freed_ = freed_carved;
        freed_carved = FreedCarved{nullptr, 0, 0, 0};
    }

  private:
    FreedCarved freed_{nullptr, 0, 0, 0};
};

}  // namespace korvo::rt::pool
