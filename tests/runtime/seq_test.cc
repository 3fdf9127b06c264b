// Sequences: growth keeps the contents, removal keeps the order and hands
// the element over, and a full or invalid request changes nothing.
#include <gtest/gtest.h>

#include "runtime/mg_memory.h"
#include "runtime/seq.h"

namespace {

typedef struct Longs KORVO_SEQUENCE(int32_t) Longs;

TEST(Sequence, AddGrowsAndKeepsEveryElement) {
    Longs seq{};
    for (int32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(seq_add(&seq, &i, sizeof i), i);
        if (i == 0) {
            EXPECT_EQ(seq.maximum, 8u);  // the first add allocates eight slots
        }
    }
    EXPECT_EQ(seq.length, 1000u);
    EXPECT_GE(seq.maximum, 1000u);
    for (int32_t i = 0; i < 1000; ++i)
        ASSERT_EQ(seq.buffer[i], i);
    seq_free_buffer(&seq);
    EXPECT_EQ(seq.buffer, nullptr);
    EXPECT_EQ(seq.maximum, 0u);
    EXPECT_EQ(seq.length, 0u);
    seq_free_buffer(nullptr);
}

TEST(Sequence, RemoveHandsOverTheElementAndCloses) {
    Longs seq{};
    for (int32_t i = 0; i < 5; ++i)
        seq_add(&seq, &i, sizeof i);
    auto *removed = static_cast<int32_t *>(seq_remove(&seq, 1, sizeof(int32_t)));
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(*removed, 1);
    mg_free(removed);
    ASSERT_EQ(seq.length, 4u);
    EXPECT_EQ(seq.buffer[0], 0);
    EXPECT_EQ(seq.buffer[1], 2);
    EXPECT_EQ(seq.buffer[3], 4);
    removed = static_cast<int32_t *>(seq_remove(&seq, 3, sizeof(int32_t)));  // the last
    EXPECT_EQ(*removed, 4);
    mg_free(removed);
    EXPECT_EQ(seq_remove(&seq, 3, sizeof(int32_t)), nullptr);  // index == length
    EXPECT_EQ(seq.length, 3u);
    seq_free_buffer(&seq);
    EXPECT_EQ(seq_remove(&seq, 0, sizeof(int32_t)), nullptr);
}

TEST(Sequence, InvalidRequestsChangeNothing) {
    Longs seq{};
    const int32_t one = 1;
    EXPECT_EQ(seq_add(nullptr, &one, sizeof one), -1);
    EXPECT_EQ(seq_add(&seq, nullptr, sizeof one), -1);
    EXPECT_EQ(seq_add(&seq, &one, 0), -1);
    EXPECT_EQ(seq.buffer, nullptr);
    // A sequence that cannot grow any more.
    Longs full{8, INT32_MAX, nullptr};
    EXPECT_EQ(seq_add(&full, &one, sizeof one), -1);
    EXPECT_EQ(full.length, uint32_t{INT32_MAX});
}

}  // namespace
