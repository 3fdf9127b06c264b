// The slab carver's side of the block pool (see mg_pool.hpp).
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
// and unmapped when given back, so that the memory of a large
// decoded value leaves the process when the value is freed; smaller slabs
// come from the C heap and go back to it (the mappings are
// mg_slab_memory.hpp's). The largest slabs, which a large
// decode is cut from, are 2 MiB huge-page mappings: a fresh one costs one
// page fault instead of 512, so that mapping anew after giving back stays
// cheap.
#include "runtime/mg_pool.hpp"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "runtime/mg_heap.hpp"
#include "runtime/mg_pool_internal.hpp"
#include "runtime/mg_slab_memory.hpp"

#ifdef KORVO_POOL_PLAIN_HEAP
#error "the sanitizer build takes mg_pool_plain.cc (KORVO_MEMORY_POOL=plain)"
#endif

namespace korvo::rt::pool {
namespace detail {
namespace {

// Slabs of at least a page are mappings of their own; those of a huge page
// are mappings of huge pages where the system offers them.
constexpr std::size_t kPageBytes = 4096;

// Bytes of slabs taken from the system and not yet given back to it.
std::atomic<std::size_t> held_slab_bytes{0};

// A new slab of the class from the system, or nullptr.
Slab *new_slab(std::size_t slab_class) {
    const std::size_t bytes = slab_bytes(slab_class);
    void *memory = nullptr;
    if (bytes >= kHugePageBytes) {
        if ((memory = map_huge_pages(bytes)) == nullptr)
            return nullptr;
    } else if (bytes >= kPageBytes) {
        if ((memory = map_pages(bytes)) == nullptr)
            return nullptr;
    } else if ((memory = heap_allocate(bytes)) == nullptr) {
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
        if (!unmap_pages(slab, bytes))
            return false;
    } else {
        heap_release(slab);
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

}  // namespace

void subtract_freed() {
    FreedCarved &freed = freed_carved;
    if (freed.slab != nullptr)
        subtract(freed.slab, freed.count);
    freed = FreedCarved{nullptr, 0, 0, 0};
}

void release_carved(void *block, std::uint64_t tag) {
    auto *slab = reinterpret_cast<Slab *>(static_cast<char *>(block) - (tag >> 32));
    if (!kExitSeesThreadState || thread_exiting()) {
        subtract(slab, 1);
        return;
    }
    FreedCarved &freed = freed_carved;
    if (freed.slab != slab) {
        subtract_freed();
        freed = FreedCarved{slab, slab->bytes, 0, 0};
        hook_thread_exit();
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

}  // namespace detail

using namespace detail;

void settle_freed_carved() {
    subtract_freed();
}

std::size_t slab_bytes_held() {
    return held_slab_bytes.load(std::memory_order_relaxed);
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

}  // namespace korvo::rt::pool
