// The blocks of a decoded value are cut from slabs, yet each is an mg_ block
// of its own: freed alone in any order and by any thread, resized, kept
// alive while the rest of its value is freed, and the memory of a value
// whose blocks are all freed is used again by the next decode, or when the
// value was large, given back to the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "runtime/generic.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/mg_pool.hpp"
#include "tests/runtime/sample_types.hpp"
#include "tests/support/test_host.hpp"

// Built with the sanitizer, the runtime's blocks come from the C heap.
#if defined(__SANITIZE_ADDRESS__)
#define KORVO_TEST_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVO_TEST_PLAIN_HEAP 1
#endif
#endif

namespace {

using sample::Bytes;

// A TOC of `segments` segments, each with an id, a size and a location, as
// bytes.
Bytes toc_bytes(int segments) {
    sample::PropertiesList toc{};
    for (int s = 0; s < segments; ++s) {
        sample::Properties segment{};
        const std::string id = "segment-" + std::to_string(s);
        sample::add_property(segment, "id", sample::string_any(id.c_str()));
        sample::add_property(segment, "size", sample::long_any(s * 1024));
        sample::add_property(segment, "location",
                             sample::string_any(("/var/korvo/" + id + ".dat").c_str()));
        seq_add(&toc, &segment, sizeof segment);
    }
    Bytes bytes = sample::encode(sample::TC_PropertiesList, &toc);
    vem_free_generic(&toc, sample::TC_PropertiesList);
    return bytes;
}

sample::PropertiesList decode_toc(const Bytes &bytes) {
    sample::PropertiesList toc{};
    EXPECT_EQ(sample::decode(sample::TC_PropertiesList, bytes, &toc), ADR_OK);
    return toc;
}

// Every block of a decoded TOC with what it must hold: keys and strings
// their text, long cells their number.
struct Block {
    void *block;
    std::string text;  // a key or a string
    int32_t number;    // a long cell
    bool is_text;
};

std::vector<Block> blocks_of(const sample::PropertiesList &toc) {
    std::vector<Block> blocks;
    for (uint32_t s = 0; s < toc.length; ++s) {
        const sample::Properties &segment = toc.buffer[s];
        for (uint32_t p = 0; p < segment.length; ++p) {
            const sample::Property &property = segment.buffer[p];
            blocks.push_back({property.key, property.key, 0, true});
            if (property.value.type == TC_string) {
                char *text = *static_cast<char **>(property.value.value);
                blocks.push_back({text, text, 0, true});
            } else {
                blocks.push_back({property.value.value, "",
                                  *static_cast<int32_t *>(property.value.value), false});
            }
        }
    }
    return blocks;
}

bool intact(const Block &b) {
    return b.is_text ? std::strcmp(static_cast<const char *>(b.block), b.text.c_str()) == 0
                     : *static_cast<const int32_t *>(b.block) == b.number;
}

// Takes the TOC's blocks away from it, so that they are freed one by one;
// the segment lists and the TOC's own buffer are freed here.
std::vector<void *> strip(sample::PropertiesList &toc) {
    std::vector<void *> cells;
    for (uint32_t s = 0; s < toc.length; ++s) {
        sample::Properties &segment = toc.buffer[s];
        for (uint32_t p = 0; p < segment.length; ++p)
            if (segment.buffer[p].value.type == TC_string)
                cells.push_back(segment.buffer[p].value.value);
        mg_free(segment.buffer);
    }
    mg_free(toc.buffer);
    toc = sample::PropertiesList{};
    return cells;
}

// The resident set of this process in bytes.
double resident_bytes() {
    const long resident = korvo::test::residentBytes();
    EXPECT_GT(resident, 0);
    return static_cast<double>(resident);
}

class DecodedBlocks : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sample::register_types(), 1); }
};

// Blocks of several decoded TOCs freed in a random order, half of them on
// another thread, some first grown with mg_realloc; the blocks still held
// keep their contents throughout, and so do TOCs decoded meanwhile.
TEST_F(DecodedBlocks, AreFreedAloneInAnyOrderByAnyThread) {
    const Bytes bytes = toc_bytes(300);
    std::mt19937 random(3);
    std::vector<Block> held;
    std::vector<void *> cells;
    for (int round = 0; round < 6; ++round) {
        sample::PropertiesList toc = decode_toc(bytes);
        for (const Block &b : blocks_of(toc))
            held.push_back(b);
        for (void *cell : strip(toc))
            cells.push_back(cell);
        std::shuffle(held.begin(), held.end(), random);
        // Grow a few: their contents move to a block of the pool.
        for (size_t i = 0; i < 20; ++i) {
            void *grown = mg_realloc(held[i].block, 4096);
            ASSERT_NE(grown, nullptr);
            held[i].block = grown;
        }
        const size_t half = held.size() / 2;
        std::vector<Block> theirs(held.begin(), held.begin() + static_cast<long>(half / 2));
        held.erase(held.begin(), held.begin() + static_cast<long>(half / 2));
        std::thread other([&] {
            for (const Block &b : theirs) {
                ASSERT_TRUE(intact(b));
                mg_free(b.block);
            }
        });
        for (size_t i = 0; i < half / 2; ++i) {
            ASSERT_TRUE(intact(held.back()));
            mg_free(held.back().block);
            held.pop_back();
        }
        other.join();
        for (const Block &b : held)
            ASSERT_TRUE(intact(b)) << "round " << round;
    }
    for (const Block &b : held) {
        ASSERT_TRUE(intact(b));
        mg_free(b.block);
    }
    for (void *cell : cells)
        mg_free(cell);
}

// A TOC decoded and freed over and over takes its memory from the same few
// slabs; one block kept alive keeps its slab and its bytes, and no later
// decode is given memory that overlaps it.
TEST_F(DecodedBlocks, MemoryComesBackWithTheLastBlockOfASlab) {
    const Bytes bytes = toc_bytes(200);
    std::set<void *> first_keys;
    for (int round = 0; round < 50; ++round) {
        sample::PropertiesList toc = decode_toc(bytes);
        first_keys.insert(toc.buffer[0].buffer[0].key);
        vem_free_generic(&toc, sample::TC_PropertiesList);
    }
#ifndef KORVO_TEST_PLAIN_HEAP
    EXPECT_LE(first_keys.size(), 2u);
#endif

    sample::PropertiesList toc = decode_toc(bytes);
    sample::Property &kept = toc.buffer[0].buffer[2];  // "location" of segment 0
    char *location = *static_cast<char **>(kept.value.value);
    const std::string text = location;
    *static_cast<char **>(kept.value.value) = nullptr;
    vem_free_generic(&toc, sample::TC_PropertiesList);
    const size_t kept_length = text.size() + 1;
    for (int round = 0; round < 20; ++round) {
        sample::PropertiesList other = decode_toc(bytes);
        for (const Block &b : blocks_of(other)) {
            const auto *start = static_cast<const char *>(b.block);
            const size_t length = b.is_text ? b.text.size() + 1 : sizeof(int32_t);
            ASSERT_TRUE(start + length <= location || location + kept_length <= start);
        }
        vem_free_generic(&other, sample::TC_PropertiesList);
        ASSERT_EQ(text, location);
    }
    mg_free(location);
}

// A decoded TOC of 100 000 segments takes some 28 MB; once freed, the
// process's resident set is back within a fifth of where it was before the
// decode, and a block kept alive past the free keeps its bytes.
TEST_F(DecodedBlocks, MemoryOfALargeFreedValueLeavesTheProcess) {
    const Bytes bytes = toc_bytes(100000);
    const double before = resident_bytes();
    sample::PropertiesList toc = decode_toc(bytes);
    const double peak = resident_bytes();
    sample::Property &kept = toc.buffer[70000].buffer[2];  // "location" of segment 70000
    char *location = *static_cast<char **>(kept.value.value);
    *static_cast<char **>(kept.value.value) = nullptr;
    vem_free_generic(&toc, sample::TC_PropertiesList);
    const double after = resident_bytes();
    EXPECT_STREQ(location, "/var/korvo/segment-70000.dat");
    mg_free(location);
#ifndef KORVO_TEST_PLAIN_HEAP
    ASSERT_GT(peak - before, 20e6) << "the decoded TOC should take its memory";
    EXPECT_LE(after, before * 1.2) << "before " << before << ", peak " << peak;
    // What stays: the free slabs the pool keeps for the next decode, and a
    // little of the C heap.
    EXPECT_LE(after - before, korvo::rt::pool::kKeptFreeSlabBytes + (peak - before) / 5)
        << "before " << before << ", peak " << peak;
#else
    static_cast<void>(before), static_cast<void>(peak), static_cast<void>(after);
#endif
}

}  // namespace
