// The string operations' null rules, which callers rely on instead of
// testing pointers, and the bounds of the counted forms.
#include <gtest/gtest.h>

#include <cstring>

#include "kes/kes_memory.h"
#include "kes/kes_string.h"

TEST(KesString, ComparisonsOrderNullsBeforeNothing) {
    for (auto compare : {+[](const char *a, const char *b) { return KesStringCmp(a, b); },
                         +[](const char *a, const char *b) { return KesStringICmp(a, b); },
                         +[](const char *a, const char *b) { return KesStringNCmp(a, b, 3); },
                         +[](const char *a, const char *b) { return KesStringNICmp(a, b, 3); }}) {
        EXPECT_EQ(compare(nullptr, nullptr), 1);
        EXPECT_EQ(compare(nullptr, "a"), 1);
        EXPECT_EQ(compare("a", nullptr), -1);
        EXPECT_LT(compare("abc", "abd"), 0);
    }
    EXPECT_EQ(KesStringICmp("Depot.XML", "depot.xml"), 0);
    EXPECT_EQ(KesStringNICmp("ENTRYx", "entryY", 5), 0);
    EXPECT_NE(KesStringICmp("\xc3\x89", "\xc3\xa9"), 0);  // only ASCII letters fold
    EXPECT_GT(KesStringICmp("A", "_"), 0);                // folded to lower case
}

TEST(KesString, CopiesAndAppendsHonourTheirNullRules) {
    char dst[16] = "abc";
    EXPECT_EQ(KesStringCat(nullptr, "x"), nullptr);
    EXPECT_STREQ(KesStringCat(dst, nullptr), "abc");
    EXPECT_STREQ(KesStringNCat(dst, "xyz", 10), "abcxyz");  // shorter than n: all of it
    EXPECT_STREQ(KesStringNCat(dst, "123456", 2), "abcxyz12");
    EXPECT_STREQ(KesStringCpy(dst, nullptr), "");

    char fixed[4] = {'q', 'q', 'q', 'q'};
    KesStringNCpy(fixed, "abcdef", 4);  // no terminator when the source is long
    EXPECT_EQ(std::memcmp(fixed, "abcd", 4), 0);
    KesStringNCpy(fixed, nullptr, 0);  // a zero count writes nothing, NULL or not
    EXPECT_EQ(fixed[0], 'a');
    KesStringNCpy(fixed, nullptr, 4);
    EXPECT_EQ(fixed[0], '\0');
}

TEST(KesString, SearchesHonourTheirNullRules) {
    const char text[] = "a/b\\c";
    EXPECT_EQ(KesStringLen(nullptr), 0u);
    EXPECT_EQ(KesStringChr(nullptr, 'a'), nullptr);
    EXPECT_EQ(KesStringRChr(text, '\\'), text + 3);
    EXPECT_EQ(KesStringStr(text, nullptr), nullptr);
    EXPECT_EQ(KesStringStrpbrk(nullptr, "/"), nullptr);
    EXPECT_EQ(KesStringStrcspn(nullptr, "x"), static_cast<size_t>(-1));
    EXPECT_EQ(KesStringStrcspn("abc", nullptr), 3u);
    EXPECT_EQ(KesStringStrspn(nullptr, "x"), static_cast<size_t>(-1));
    EXPECT_EQ(KesStringStrspn("abc", nullptr), 0u);

    EXPECT_EQ(KesStringDup(nullptr), nullptr);
    char *copy = KesStringDup(text);
    EXPECT_STREQ(copy, text);
    KesMemoryFree(copy);
}
