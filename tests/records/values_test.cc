// Lengths, times and commands: the carries between the two words of an
// int64_length and its limits, its text, reading it from text, the local
// time text, and the command names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "records/korvo_command.h"
#include "records/korvo_length.h"
#include "records/korvo_time.h"
#include "runtime/mg_memory.h"
#include "tests/support/test_host.hpp"

namespace {

// Adds the counts to a record made from the two texts; "thousands/units
// text" of the result, the text without its newline.
std::string sum(const char *thousands, const char *units, std::initializer_list<int32_t> counts) {
    int64_length *length = int64_length_new2(thousands, units);
    for (int32_t n : counts)
        int64_length_add(length, n);
    char *text = int64_length_to_string(length);
    std::string result =
        std::to_string(length->thousands) + "/" + std::to_string(length->units) + " " + text;
    result.pop_back();
    EXPECT_EQ(std::string(text).back(), '\n');
    mg_free(text);
    int64_length_delete(length);
    return result;
}

TEST(Int64Length, AdditionCarriesUnitsIntoThousandsAndWrapsTheWords) {
    EXPECT_EQ(sum("0", "0", {}), "0/0 0000");
    EXPECT_EQ(sum("0", "0", {999, 2}), "1/1 1001");
    EXPECT_EQ(sum("0", "0", {999, 1}), "1/0 1000");
    EXPECT_EQ(sum("0", "1", {INT32_MAX}), "2147483/648 2147483648");
    EXPECT_EQ(sum("7", "0", {-1}), "7/0 7000");  // a negative count takes nothing off
    std::initializer_list<int32_t> many = {1999, 1999, 1999, 1999, 1999, 1999, 1999, 1999};
    EXPECT_EQ(sum("0", "0", many), "15/992 15992");

    // Units read from text are taken as they are; each addition carries at
    // most one thousand out of them, as the record's carry rule says.
    EXPECT_EQ(sum("1", "2500", {}), "1/2500 12500");
    EXPECT_EQ(sum("1", "2500", {0}), "2/1500 21500");
    EXPECT_EQ(sum("1", "2500", {0, 0}), "3/500 3500");
    EXPECT_EQ(sum("1", "2500", {0, 0, 0}), "3/500 3500");
    EXPECT_EQ(sum("0", "999", {1999}), "2/998 2998");

    // The words are unsigned 32-bit numbers and wrap round like them.
    EXPECT_EQ(sum("-2", "999", {1}), "4294967295/0 4294967295000");
    EXPECT_EQ(sum("-1", "999", {1}), "0/0 0000");
    EXPECT_EQ(sum("-1", "-1", {}), "4294967295/4294967295 42949672954294967295");
    EXPECT_EQ(sum("-1", "-1", {0}), "0/4294966295 04294966295");
}

// Texts are read as strtol reads them into a 32-bit long, and the long is
// stored as an unsigned word: "-1" is 4294967295, and numbers beyond the
// long's range stop at its ends.
TEST(Int64Length, ReadsDecimalTextsAsStrtolAndCompares) {
    EXPECT_EQ(sum(" +7", "08", {}), "7/8 7008");  // decimal, not octal
    EXPECT_EQ(sum("12abc", "0x1F", {}), "12/0 12000");
    EXPECT_EQ(sum("", nullptr, {}), "0/0 0000");
    EXPECT_EQ(sum("-1", "-2", {}), "4294967295/4294967294 42949672954294967294");
    EXPECT_EQ(sum("99999999999999999999", "2147483648", {}),
              "2147483647/2147483647 21474836472147483647");
    EXPECT_EQ(sum("-2147483648", "-99999999999", {}), "2147483648/2147483648 21474836482147483648");

    int64_length *a = int64_length_new2("5", "5");
    int64_length *b = int64_length_clone(a);
    EXPECT_EQ(int64_length_equal(a, b), 1);
    int64_length_add(b, 1000);
    EXPECT_EQ(int64_length_equal(a, b), 0);  // thousands differ
    int64_length_add(a, 1001);
    EXPECT_EQ(int64_length_equal(a, b), 0);  // units differ
    EXPECT_EQ(int64_length_equal(a, nullptr), 0);
    int64_length_delete(a);
    int64_length_delete(b);
}

std::string time_text(const char *zone, time_t seconds, size_t size = 64) {
    korvo::test::setEnvironmentVariable("TZ", zone);
    char buffer[64];
    const size_t n = time_to_string(buffer, size, &seconds);
    return n == 0 ? "(none)" : std::string(buffer, n);
}

TEST(TimeText, FormatsLocalTimeWithATrailingSpace) {
    EXPECT_EQ(time_text("UTC0", 0), "1970/01/01 00:00:00 ");
    EXPECT_EQ(time_text("UTC0", 1700000000, 21), "2023/11/14 22:13:20 ");
    EXPECT_EQ(time_text("UTC0", 1700000000, 20), "(none)");  // no room for the NUL
    EXPECT_EQ(time_text("KRV-3", 1700000000), "2023/11/15 01:13:20 ");
    EXPECT_EQ(time_to_string(nullptr, 32, nullptr), 0u);
}

TEST(Commands, NamesOfTheSixCodes) {
    const char *names[] = {"NULL", "DATA", "CANCEL", "PAUSE", "EXPIRE", "ROAM"};
    for (int32_t code = 0; code < 6; ++code)
        EXPECT_STREQ(decode_command(code), names[code]);
    EXPECT_EQ(decode_command(6), nullptr);
    EXPECT_EQ(decode_command(-1), nullptr);
}

}  // namespace
