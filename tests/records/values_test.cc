// Lengths, times and commands: the carries between the two words of an
// int64_length and its limits, its text, reading it from text, the local
// time text, and the command names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "records/korvo_command.h"
#include "records/korvo_length.h"
#include "records/korvo_time.h"
#include "runtime/mg_memory.h"

namespace {

// An int64_length owned by the test.
struct Length {
    int64_length *record;
    explicit Length(int64_length *r) : record(r) {}
    Length(uint32_t thousands, uint32_t units)
        : record(int64_length_new2(std::to_string(thousands).c_str(),
                                   std::to_string(units).c_str())) {}
    ~Length() { int64_length_delete(record); }
    Length(const Length &) = delete;
    Length &operator=(const Length &) = delete;

    Length &add(int32_t n) {
        int64_length_add(record, n);
        return *this;
    }
    std::string text() const {
        char *text = int64_length_to_string(record);
        std::string copy = text != nullptr ? text : "(null)";
        mg_free(text);
        return copy;
    }
    uint64_t count() const { return record->thousands * 1000ull + record->units; }
};

TEST(Int64Length, AdditionCarriesUnitsIntoThousands) {
    Length zero(int64_length_new());
    EXPECT_EQ(zero.text(), "0000\n");

    Length a(int64_length_new());
    a.add(999).add(2);
    EXPECT_EQ(a.record->thousands, 1u);
    EXPECT_EQ(a.record->units, 1u);
    EXPECT_EQ(a.text(), "1001\n");

    Length b(int64_length_new());
    b.add(999).add(1);
    EXPECT_EQ(b.text(), "1000\n");
    b.add(INT32_MAX);
    EXPECT_EQ(b.count(), 1000ull + INT32_MAX);
    EXPECT_LT(b.record->units, 1000u);

    // Many additions with carries: 2 000 x 1 999 bytes.
    Length c(int64_length_new());
    for (int i = 0; i < 2000; ++i)
        c.add(1999);
    EXPECT_EQ(c.count(), 3998000u);
    EXPECT_EQ(c.text(), "3998000\n");

    // Units read from text may be 1000 or more; the next addition carries
    // them, even an addition of nothing.
    Length d(1, 2500);
    EXPECT_EQ(d.text(), "12500\n");
    d.add(0);
    EXPECT_EQ(d.record->thousands, 3u);
    EXPECT_EQ(d.record->units, 500u);

    // A negative count is not a count: nothing is taken off.
    d.add(-1);
    EXPECT_EQ(d.count(), 3500u);
    int64_length_add(nullptr, 5);
}

TEST(Int64Length, StopsAtItsLargestValueInsteadOfWrapping) {
    Length below(UINT32_MAX - 1, 999);
    below.add(1);
    EXPECT_EQ(below.record->thousands, UINT32_MAX);
    EXPECT_EQ(below.record->units, 0u);
    EXPECT_EQ(below.text(), "4294967295000\n");

    Length top(UINT32_MAX, 998);
    top.add(1).add(1).add(INT32_MAX);
    EXPECT_EQ(top.record->thousands, UINT32_MAX);
    EXPECT_EQ(top.record->units, 999u);

    // The longest text fits its 32-byte block.
    Length widest(UINT32_MAX, UINT32_MAX);
    EXPECT_EQ(widest.text(), "42949672954294967295\n");
}

TEST(Int64Length, ReadsDecimalTexts) {
    auto read = [](const char *thousands, const char *units) {
        Length length(int64_length_new2(thousands, units));
        return std::to_string(length.record->thousands) + "/" +
               std::to_string(length.record->units);
    };
    EXPECT_EQ(read("12", "345"), "12/345");
    EXPECT_EQ(read(" +7", "08"), "7/8");       // decimal, not octal
    EXPECT_EQ(read("12abc", "0x1F"), "12/0");  // reading stops at the first non-digit
    EXPECT_EQ(read("", nullptr), "0/0");       // no digits
    EXPECT_EQ(read("4294967295", "0"), "4294967295/0");
    EXPECT_EQ(read("4294967296", "99999999999999999999"), "4294967295/4294967295");
    EXPECT_EQ(read("-1", "-999"), "0/0");
}

TEST(Int64Length, EqualityAndCopies) {
    Length a(5, 5);
    Length b(int64_length_clone(a.record));
    ASSERT_NE(b.record, nullptr);
    EXPECT_NE(b.record, a.record);
    EXPECT_EQ(int64_length_equal(a.record, b.record), 1);
    b.add(1000);
    EXPECT_EQ(int64_length_equal(a.record, b.record), 0);  // thousands differ
    a.add(1000);
    a.add(1);
    EXPECT_EQ(int64_length_equal(a.record, b.record), 0);  // units differ
    EXPECT_EQ(int64_length_equal(nullptr, nullptr), 1);
    EXPECT_EQ(int64_length_equal(a.record, nullptr), 0);
    EXPECT_EQ(int64_length_clone(nullptr), nullptr);
    EXPECT_EQ(int64_length_to_string(nullptr), nullptr);
}

// Sets TZ for the life of the object and puts the old value back.
class TimeZone {
  public:
    explicit TimeZone(const char *zone) {
        if (const char *old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
    }
    ~TimeZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone &) = delete;
    TimeZone &operator=(const TimeZone &) = delete;

  private:
    std::optional<std::string> old_;
};

std::string time_text(time_t seconds, size_t size = 64) {
    char buffer[64];
    const size_t n = time_to_string(buffer, size, &seconds);
    return n == 0 ? "(none)" : std::string(buffer, n);
}

TEST(TimeText, FormatsLocalTimeWithATrailingSpace) {
    {
        TimeZone utc("UTC0");
        EXPECT_EQ(time_text(0), "1970/01/01 00:00:00 ");
        EXPECT_EQ(time_text(1700000000), "2023/11/14 22:13:20 ");
        // The text needs 21 bytes with its NUL.
        EXPECT_EQ(time_text(1700000000, 21), "2023/11/14 22:13:20 ");
        EXPECT_EQ(time_text(1700000000, 20), "(none)");
    }
    {
        TimeZone east("KRV-3");  // three hours ahead of UTC
        EXPECT_EQ(time_text(1700000000), "2023/11/15 01:13:20 ");
    }
    char buffer[32];
    time_t now = 0;
    EXPECT_EQ(time_to_string(nullptr, 32, &now), 0u);
    EXPECT_EQ(time_to_string(buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(time_to_string(buffer, 0, &now), 0u);
}

TEST(Commands, NamesOfTheSixCodes) {
    const char *names[] = {"NULL", "DATA", "CANCEL", "PAUSE", "EXPIRE", "ROAM"};
    for (int32_t code = 0; code < 6; ++code)
        EXPECT_STREQ(decode_command(code), names[code]);
    EXPECT_STREQ(decode_command(KORVO_COMMAND_ROAM), "ROAM");
    EXPECT_EQ(decode_command(6), nullptr);
    EXPECT_EQ(decode_command(255), nullptr);
    EXPECT_EQ(decode_command(-1), nullptr);
}

}  // namespace
