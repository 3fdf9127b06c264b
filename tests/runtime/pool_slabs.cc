// Carvers' slabs go back to the system once their blocks are all freed,
// beyond the few MiB the pool keeps for the next carvers: whichever thread
// frees the last block, before or after the carver ends, and a thread that
// ends with frees not yet counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "runtime/mg_pool.hpp"

namespace {

namespace pool = korvo::rt::pool;

constexpr std::size_t kLarge = std::size_t{64} << 20;

// Cuts blocks of 24 to 200 bytes until `bytes` are carved, each filled with
// a byte of its address.
std::vector<void *> carve(std::size_t bytes) {
    std::vector<void *> blocks;
    pool::Carver carver(bytes);
    std::size_t carved = 0;
    for (std::size_t i = 0; carved < bytes; ++i) {
        const std::size_t size = 24 + i % 177;
        void *block = carver.allocate(size);
        EXPECT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
        std::memset(block, static_cast<int>(reinterpret_cast<std::uintptr_t>(block) & 0xff), size);
        blocks.push_back(block);
        carved += size;
    }
    return blocks;
}

bool intact(const void *block) {
    const auto *bytes = static_cast<const unsigned char *>(block);
    return bytes[0] == (reinterpret_cast<std::uintptr_t>(block) & 0xff) && bytes[23] == bytes[0];
}

class PoolSlabs : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef KORVO_POOL_PLAIN_HEAP
        GTEST_SKIP() << "the sanitizer build has no slabs";
#endif
        held_before_ = pool::slab_bytes_held();
    }
    // The slab bytes held beyond those held when the test began.
    std::size_t held_now() const {
        const std::size_t held = pool::slab_bytes_held();
        return held > held_before_ ? held - held_before_ : 0;
    }
    std::size_t held_before_ = 0;
};

// Freed in order on the carving thread, and again in a random order with
// half on another thread while the carver lives: each time what is held
// falls back to what the pool keeps, and a block freed last keeps its bytes
// until then.
TEST_F(PoolSlabs, GoBackWhenTheirBlocksAreFreed) {
    std::vector<void *> blocks = carve(kLarge);
    EXPECT_GE(held_now(), kLarge);
    for (void *block : blocks)
        pool::release(block);
    pool::settle_freed_carved();
    EXPECT_LE(held_now(), pool::kKeptFreeSlabBytes);

    blocks = carve(kLarge);
    std::shuffle(blocks.begin(), blocks.end(), std::mt19937(5));
    void *last = blocks.back();
    blocks.pop_back();
    const auto half = static_cast<std::ptrdiff_t>(blocks.size() / 2);
    std::thread other([&] {
        for (auto it = blocks.begin(); it != blocks.begin() + half; ++it)
            pool::release(*it);
    });
    for (auto it = blocks.begin() + half; it != blocks.end(); ++it)
        pool::release(*it);
    other.join();
    pool::settle_freed_carved();
    ASSERT_TRUE(intact(last));
    EXPECT_LE(held_now(), pool::kKeptFreeSlabBytes + pool::kLargestSlabBytes);
    pool::release(last);
    pool::settle_freed_carved();
    EXPECT_LE(held_now(), pool::kKeptFreeSlabBytes);
}

// Work that fits in what the pool keeps takes its slabs from it, decode
// after decode, without asking the system for more.
TEST_F(PoolSlabs, KeptSlabsServeTheNextCarvers) {
    for (void *block : carve(kLarge))
        pool::release(block);
    pool::settle_freed_carved();
    const std::size_t kept = held_now();
    for (int round = 0; round < 20; ++round) {
        for (void *block : carve(pool::kKeptFreeSlabBytes / 2))
            pool::release(block);
        pool::settle_freed_carved();
        EXPECT_LE(held_now(), kept) << "round " << round;
    }
}

// The Releaser of a list free, and a thread that ends with the frees it
// counted not yet subtracted: both settle, and the slabs go back.
TEST_F(PoolSlabs, GoBackAfterAReleaserAndAThreadThatEnds) {
    std::vector<void *> blocks = carve(kLarge);
    {
        pool::Releaser releaser;
        for (std::size_t i = 0; i < blocks.size() / 2; ++i)
            releaser.release(blocks[i]);
    }
    std::thread([&] {
        for (std::size_t i = blocks.size() / 2; i < blocks.size(); ++i)
            pool::release(blocks[i]);
    }).join();
    pool::settle_freed_carved();
    EXPECT_LE(held_now(), pool::kKeptFreeSlabBytes);
}

}  // namespace
