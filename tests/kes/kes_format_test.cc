// The printf front end's rewriting of "ll" for the host C library, checked in
// both of its forms, and KesStringSprintf on this host.
#include <gtest/gtest.h>

#include <cinttypes>
#include <string>
#include <utility>

#include "kes/kes_format.h"
#include "kes/kes_format.hpp"

namespace {

std::string Rewrite(std::string_view format, std::string_view target) {
    std::string out(korvo::kes::RewrittenFormatSize(format, target), '#');
    const size_t length = korvo::kes::RewriteFormat(format, target, out.data());
    EXPECT_LT(length, out.size());  // the size computed leaves room for the terminator
    EXPECT_EQ(out[length], '\0');
    out.resize(length);
    return out;
}

}  // namespace

// Each conversion with "ll" gets the target's own letters; only the first
// letter after each '%' is examined, so "ll" in plain text is left alone and
// a lone '%' at the end stops the scan and passes through unchanged.
TEST(KesFormatRewrite, WindowsRuntimeGetsI64InEachConversion) {
    const std::pair<const char *, const char *> rows[] = {
        {"%lld and %lld", "%I64d and %I64d"},
        {"%llu %llx %-08llX", "%I64u %I64x %-08I64X"},
        {"%ld %5.2f %s %hd", "%ld %5.2f %s %hd"},
        {"%I64d", "%I64d"},
        {"100%% of %lld", "100%% of %I64d"},
        {"all %d balls, %s calls", "all %d balls, %s calls"},
        {"no conversions: hello", "no conversions: hello"},
        {"%lld of 100%", "%I64d of 100%"},
        {"50%", "50%"},
        {"%", "%"},
        {"%ll", "%I64"},
        {"", ""},
    };
    for (const auto &[format, expected] : rows)
        EXPECT_EQ(Rewrite(format, "I64"), expected) << format;
}

TEST(KesFormatRewrite, GlibcTargetLeavesEveryFormatAsItIs) {
    for (const char *format :
         {"%lld and %lld", "%llx", "%hd", "%I64d", "all %d balls", "%lld of 100%", "%"}) {
        EXPECT_EQ(Rewrite(format, "ll"), format);
    }
#if defined(_WIN32)
    // The Windows runtime's printf is the one that wants "I64".
    EXPECT_EQ(korvo::kes::kHostLongLong, "I64");
#else
    EXPECT_EQ(korvo::kes::kHostLongLong, "ll");
#endif
}

TEST(KesStringSprintf, FormatsSixtyFourBitValues) {
    char out[128];
    const int64_t big = INT64_C(5) << 32;
    EXPECT_EQ(KesStringSprintf(out, "%lld/%lld", static_cast<long long>(big),
                               static_cast<long long>(-big)),
              static_cast<int>(std::string("21474836480/-21474836480").size()));
    EXPECT_STREQ(out, "21474836480/-21474836480");
    KesStringSprintf(out, "%llx %hd %s", 0x123456789abcULL, static_cast<short>(-2), "ok");
    EXPECT_STREQ(out, "123456789abc -2 ok");
}

TEST(KesStringSprintf, RefusesNullArguments) {
    char out[8] = "stale";
    EXPECT_EQ(KesStringSprintf(nullptr, "%d", 1), -1);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    EXPECT_EQ(KesStringSprintf(out, nullptr), -1);
#pragma GCC diagnostic pop
    EXPECT_STREQ(out, "");
}
