// Null rules of the Kes memory operations, which callers rely on instead of
// checking pointers themselves.
#include <gtest/gtest.h>

#include "kes/kes_memory.h"

TEST(KesMemory, AllocationRefusesZeroSizes) {
    EXPECT_EQ(KesMemoryMalloc(0), nullptr);
    EXPECT_EQ(KesMemoryCalloc(0, 8), nullptr);
    EXPECT_EQ(KesMemoryCalloc(8, 0), nullptr);
    auto *block = static_cast<unsigned char *>(KesMemoryCalloc(4, 4));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(block[i], 0);
    KesMemoryFree(block);
    KesMemoryFree(nullptr);
}

TEST(KesMemory, ReallocToZeroKeepsTheBlock) {
    auto *block = static_cast<char *>(KesMemoryMalloc(8));
    ASSERT_NE(block, nullptr);
    block[7] = 'x';
    EXPECT_EQ(KesMemoryRealloc(block, 0), nullptr);
    EXPECT_EQ(block[7], 'x');  // still ours; ASan would report a use after free
    KesMemoryFree(block);
}

TEST(KesMemory, CompareTreatsNullsAsOrdered) {
    const char a[] = "abc";
    EXPECT_EQ(KesMemoryCmp(nullptr, nullptr, 3), 0);
    EXPECT_EQ(KesMemoryCmp(nullptr, a, 3), -1);
    EXPECT_EQ(KesMemoryCmp(a, nullptr, 3), 1);
    EXPECT_EQ(KesMemoryCmp(a, a, 3), 0);
    EXPECT_LT(KesMemoryCmp("abc", "abd", 3), 0);
}

TEST(KesMemory, CopiesIgnoreNullsAndNonPositiveCounts) {
    char dst[8] = "xxxxxxx";
    EXPECT_EQ(KesMemoryCpy(dst, nullptr, 3), dst);
    EXPECT_EQ(KesMemoryCpy(dst, "abc", 0), dst);
    EXPECT_EQ(KesMemoryCpy(dst, "abc", -5), dst);
    EXPECT_EQ(KesMemoryCpy(nullptr, "abc", 3), nullptr);
    EXPECT_STREQ(dst, "xxxxxxx");
    KesMemoryCpy(dst, "abc", 3);
    EXPECT_STREQ(dst, "abcxxxx");
    KesMemoryMove(dst + 1, dst, 4);  // overlapping
    EXPECT_STREQ(dst, "aabcxxx");
}

TEST(KesMemory, SetReportsInvalidArguments) {
    char dst[4] = {1, 1, 1, 1};
    KesStatus status{-9, -9, -9};
    EXPECT_EQ(KesMemorySet(&status, dst, 3, 0), &status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(dst[2], 0);
    EXPECT_EQ(dst[3], 1);
    KesMemorySet(&status, nullptr, 3, 0);
    EXPECT_EQ(status.code, KES_INVALID);
    EXPECT_EQ(status.osError, 0);
    EXPECT_EQ(status.step, 0);
    KesMemorySet(&status, dst, 0, 7);
    EXPECT_EQ(status.code, KES_INVALID);
    EXPECT_EQ(dst[0], 0);
}
