// The runtime's own formatting of numbered printf conversions, checked
// against formats with the arguments in order (which every C library
// formats itself), and the formats it leaves to the C library.
#include "runtime/positional_format.hpp"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string numbered(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string out = "(refused)";
    if (!korvo::rt::format_positional(format, arguments, &out))
        out = "(refused)";
    va_end(arguments);
    return out;
}

template <typename... Args>
std::string plain(const char *format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

TEST(PositionalFormat, NumberedConversionsTakeTheirArgumentsInNumberOrder) {
    EXPECT_EQ(numbered("Configuration file %1$s: line %2$d is longer than %3$d bytes.", "a.cfg", 2,
                       65536),
              "Configuration file a.cfg: line 2 is longer than 65536 bytes.");
    EXPECT_EQ(numbered("%2$s before %1$s, %2$s again", "one", "two"), "two before one, two again");
    EXPECT_EQ(numbered("%1$-6s|%2$05d|%3$x|%4$.2f|%5$c|100%%", "ab", -42, 255u, 2.5, 'z'),
              plain("%-6s|%05d|%x|%.2f|%c|100%%", "ab", -42, 255u, 2.5, 'z'));
    EXPECT_EQ(
        numbered("%1$lld %2$llu %3$zu %4$ld %5$hd", -(1LL << 40), ~0ULL, std::size_t{7}, -9L, 3),
        plain("%lld %llu %zu %ld %hd", -(1LL << 40), ~0ULL, std::size_t{7}, -9L, 3));
    EXPECT_EQ(numbered("%1$s", static_cast<const char *>(nullptr)), "(null)");
    const std::string long_text(1000, 'y');
    EXPECT_EQ(numbered("<%1$s>", long_text.c_str()), "<" + long_text + ">");
}

TEST(PositionalFormat, LeavesOtherFormatsToTheCLibrary) {
    EXPECT_EQ(numbered("no conversions"), "(refused)");
    EXPECT_EQ(numbered("%s in order", "x"), "(refused)");
    EXPECT_EQ(numbered("%1$s and %3$s: the second is missing", "a", "b", "c"), "(refused)");
    EXPECT_EQ(numbered("%1$*d", 4, 5), "(refused)");
    EXPECT_EQ(numbered("%1$n", nullptr), "(refused)");
    EXPECT_EQ(numbered("%1$s %2$", "a"), "(refused)");
}

}  // namespace
