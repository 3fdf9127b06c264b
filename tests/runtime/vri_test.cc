// Multibyte byte types and ASCII upper-casing. The matcher's handling of
// backslashes stands on the byte types, so they are checked in a single-byte
// locale, in UTF-8 and in a double-byte locale.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/vri.h"
#include "tests/runtime/test_locale.hpp"

namespace {

// The types of every byte of `text` as digits, '-' for illegal.
std::string Types(const char *text) {
    std::string types;
    for (size_t i = 0; text[i] != '\0'; ++i) {
        const int type = vri_mbsbtype(nullptr, text, i);
        types += type < 0 ? '-' : static_cast<char>('0' + type);
    }
    return types;
}

TEST(VriMbsbtype, ByLocale) {
    {
        TestLocale c("C");
        EXPECT_EQ(Types("a\x81\\\xc3\xa9"), "00000");
    }
    TestLocale utf8(TestLocale::kUtf8);
    if (!utf8.ok())
        GTEST_SKIP() << "no UTF-8 locale (the Windows C runtime msvcrt has none)";
    // e-acute, a backslash, the euro sign, a lone lead byte, a lone trailing byte.
    EXPECT_EQ(Types("a\xc3\xa9\\\xe2\x82\xac\xc3\\z\xa9"), "0120122-00-");
}

TEST(VriMbsbtype, DoubleByteLocaleFindsTrailingBackslashes) {
    TestLocale gbk = TestLocale::Gbk();
    if (!gbk.ok())
        GTEST_SKIP() << "cannot build a GBK locale";
    // \x81\x5c is one character; a backslash after it stands alone. Only a
    // walk from the start tells the two backslashes of "\x81\x81\\" apart.
    EXPECT_EQ(Types("a\x81\\\\b\x81\x81\\"), "01200120");
}

TEST(VriMbsbtype, RefusesBadArguments) {
    int context = 0;
    EXPECT_EQ(vri_mbsbtype(nullptr, nullptr, 0), VRI_MBC_ILLEGAL);
    EXPECT_EQ(vri_mbsbtype(&context, "abc", 0), VRI_MBC_ILLEGAL);
    EXPECT_EQ(vri_mbsbtype(nullptr, "abc", 3), VRI_MBC_ILLEGAL);  // the terminator
    EXPECT_EQ(vri_mbsbtype(nullptr, "abc", static_cast<size_t>(-1)), VRI_MBC_ILLEGAL);
}

TEST(VriStrupper, UpperCasesAsciiLettersOnly) {
    char text[] = "abz-AZ_09 \xc3\xa9q";
    EXPECT_EQ(vri_strupper(nullptr, 0, text), text);
    EXPECT_STREQ(text, "ABZ-AZ_09 \xc3\xa9Q");
    EXPECT_EQ(vri_strupper(nullptr, 0, nullptr), nullptr);
}

}  // namespace
