// The mg_ allocator family: blocks of every size class and beyond keep what
// is written to them, resizing keeps contents across classes, recycled
// blocks come back zeroed from mg_calloc, and no block is handed out twice
// while blocks move between threads (freed by another thread than the one
// that allocated them, or left behind by threads that ended).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/mg_memory.h"

namespace {

const size_t kSizes[] = {0, 1, 15, 16, 17, 100, 255, 256, 257, 4096, 1 << 20};

// Fills a block with a pattern derived from `seed`, and checks it.
void fill(void *block, size_t size, uint32_t seed) {
    auto *bytes = static_cast<uint8_t *>(block);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed * 31 + i);
}

bool holds(const void *block, size_t size, uint32_t seed) {
    const auto *bytes = static_cast<const uint8_t *>(block);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != static_cast<uint8_t>(seed * 31 + i))
            return false;
    return true;
}

// Live blocks each marked with their index; a block handed out twice shows
// as a mark overwritten by another.
struct LiveBlocks {
    std::vector<uint32_t *> blocks;

    void allocate(size_t count, size_t size) {
        for (size_t i = 0; i < count; ++i) {
            auto *block = static_cast<uint32_t *>(mg_malloc(size));
            ASSERT_NE(block, nullptr);
            *block = static_cast<uint32_t>(blocks.size());
            blocks.push_back(block);
        }
    }
    void expect_distinct() const {
        for (size_t i = 0; i < blocks.size(); ++i)
            ASSERT_EQ(*blocks[i], i) << "block " << i << " was handed out twice";
    }
    ~LiveBlocks() {
        for (uint32_t *block : blocks)
            mg_free(block);
    }
};

TEST(MgMemory, EverySizeKeepsItsBytesAndIsAligned) {
    std::vector<void *> blocks;
    for (uint32_t round = 0; round < 3; ++round)
        for (size_t size : kSizes) {
            void *block = mg_malloc(size);
            ASSERT_NE(block, nullptr) << size;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
            fill(block, size, round);
            blocks.push_back(block);
        }
    size_t index = 0;
    for (uint32_t round = 0; round < 3; ++round)
        for (size_t size : kSizes)
            EXPECT_TRUE(holds(blocks[index++], size, round)) << size;
    for (void *block : blocks)
        mg_free(block);
    mg_free(nullptr);
}

TEST(MgMemory, ReallocKeepsTheContentsAcrossSizes) {
    for (size_t from : kSizes)
        for (size_t to : kSizes) {
            void *block = mg_malloc(from);
            fill(block, from, 7);
            void *resized = mg_realloc(block, to);
            ASSERT_NE(resized, nullptr) << from << " -> " << to;
            EXPECT_TRUE(holds(resized, std::min(from, to), 7)) << from << " -> " << to;
            fill(resized, to, 9);
            EXPECT_TRUE(holds(resized, to, 9));
            mg_free(resized);
        }
    void *fresh = mg_realloc(nullptr, 40);
    ASSERT_NE(fresh, nullptr);
    mg_free(fresh);
}

TEST(MgMemory, CallocZeroesRecycledBlocksAndRefusesOverflow) {
    for (size_t size : {size_t{8}, size_t{48}, size_t{256}, size_t{5000}}) {
        std::vector<void *> dirty;
        for (int i = 0; i < 300; ++i) {
            dirty.push_back(mg_malloc(size));
            std::memset(dirty.back(), 0xAB, size);
        }
        for (void *block : dirty)
            mg_free(block);
        for (int i = 0; i < 300; ++i) {
            auto *block = static_cast<uint8_t *>(mg_calloc(1, size));
            ASSERT_NE(block, nullptr);
            for (size_t b = 0; b < size; ++b)
                ASSERT_EQ(block[b], 0) << size;
            dirty[i] = block;
        }
        for (void *block : dirty)
            mg_free(block);
    }
    EXPECT_EQ(mg_calloc(SIZE_MAX / 2, 4), nullptr);
    EXPECT_EQ(mg_malloc(SIZE_MAX - 4), nullptr);
    char *copy = mg_strdup("segment-1");
    EXPECT_STREQ(copy, "segment-1");
    mg_free(copy);
    EXPECT_EQ(mg_strdup(nullptr), nullptr);
}

// One thread allocates, another frees, many times over and in several
// classes, while the main thread keeps marked blocks alive throughout.
TEST(MgMemory, BlocksFreedByOtherThreadsAreNeverHandedOutTwice) {
    LiveBlocks live;
    live.allocate(5000, 24);
    for (int round = 0; round < 20; ++round) {
        std::vector<void *> handed;
        std::thread producer([&] {
            for (int i = 0; i < 3000; ++i) {
                const size_t size = 8 + (i % 12) * 20;
                handed.push_back(mg_malloc(size));
                fill(handed.back(), size, static_cast<uint32_t>(i));
            }
        });
        producer.join();
        std::thread consumer([&] {
            for (int i = 0; i < 3000; ++i) {
                const size_t size = 8 + (i % 12) * 20;
                ASSERT_TRUE(holds(handed[i], size, static_cast<uint32_t>(i)));
                mg_free(handed[i]);
            }
        });
        consumer.join();
        live.allocate(200, 24);
        ASSERT_NO_FATAL_FAILURE(live.expect_distinct());
    }
}

// Four threads at once allocate marked blocks, trade half of them through a
// shared exchange and free what the others allocated, so that magazines
// move between threads and the shared pool concurrently. A block handed out
// twice, or reused while still in use, shows as a broken mark.
TEST(MgMemory, ThreadsTradingBlocksConcurrentlyKeepEveryMark) {
    struct Marked {
        uint32_t *block;
        size_t size;
        uint32_t seed;
    };
    std::mutex lock;
    std::vector<Marked> exchange;
    std::atomic<int> broken{0};
    const auto free_all = [&](std::vector<Marked> &blocks) {
        for (const Marked &held : blocks) {
            if (!holds(held.block, held.size, held.seed))
                ++broken;
            mg_free(held.block);
        }
        blocks.clear();
    };
    const auto work = [&](uint32_t thread) {
        std::vector<Marked> own;
        for (uint32_t i = 0; i < 20000; ++i) {
            const size_t size = 8 + (i * 7 + thread * 13) % 300;
            const uint32_t seed = thread * 100000 + i;
            auto *block = static_cast<uint32_t *>(mg_malloc(size));
            fill(block, size, seed);
            Marked marked{block, size, seed};
            if (i % 2 == 0) {
                own.push_back(marked);
                continue;
            }
            std::lock_guard guard(lock);
            exchange.push_back(marked);
            if (exchange.size() > 64) {
                for (int k = 0; k < 32; ++k) {
                    own.push_back(exchange.back());
                    exchange.pop_back();
                }
            }
            if (own.size() > 500)
                free_all(own);
        }
        free_all(own);
    };
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back(work, t);
    for (std::thread &thread : threads)
        thread.join();
    free_all(exchange);
    EXPECT_EQ(broken.load(), 0);
}

// Threads that end with blocks in their free lists give them back; blocks
// allocated after that are still distinct from every live block.
TEST(MgMemory, ThreadsThatEndGiveTheirBlocksBack) {
    LiveBlocks live;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            LiveBlocks own;
            own.allocate(700, 40);
            own.expect_distinct();
        });
    for (std::thread &thread : threads)
        thread.join();
    live.allocate(6000, 40);
    live.expect_distinct();
}

}  // namespace
