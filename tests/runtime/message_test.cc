// Building message entries from catalog texts, and rendering them.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "runtime/generic.h"
#include "runtime/message.h"
#include "runtime/mg_memory.h"

namespace {

// An entry built from the arguments, released when the test ends.
struct Built {
    MessageEntry entry{};
    ~Built() { vem_free_generic(&entry, TC_Vem_Types_XOpenMessageEntry); }

    const StringList &args() const { return *static_cast<const StringList *>(entry.args.value); }
    std::vector<std::string> strings() const {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < args().length; ++i)
            out.emplace_back(args().buffer[i]);
        return out;
    }
    std::string rendered() const {
        char *text = msg_entry_render(&entry);
        std::string out = text;
        mg_free(text);
        return out;
    }
};

using Strings = std::vector<std::string>;

TEST(MessageEntry, ArgumentsAreStringsInPlaceholderOrder) {
    Built plain;
    ASSERT_EQ(msg_entry_build(&plain.entry, "Korvo2Catalog", 13, "No placeholder here.\n"), 1);
    EXPECT_STREQ(plain.entry.catalog, "Korvo2Catalog");
    EXPECT_STREQ(plain.entry.default_msg, "No placeholder here.\n");
    EXPECT_EQ(plain.entry.number, 13);
    EXPECT_EQ(plain.entry.args.type, TC_Vem_Types_StringList);
    EXPECT_EQ(plain.args().length, 0u);
    EXPECT_EQ(plain.args().maximum, 0u);

    Built mixed;
    msg_entry_build(&mixed.entry, nullptr, 19, "Cannot read %1$s (%2$d bytes, %3$u).\n", "abc", -1,
                    7);
    EXPECT_EQ(mixed.entry.catalog, nullptr);
    EXPECT_EQ(mixed.strings(), (Strings{"abc", "4294967295", "7"}));
    EXPECT_EQ(mixed.args().maximum, 3u);  // {count, count, array}
    EXPECT_EQ(mixed.rendered(), "Cannot read abc (4294967295 bytes, 7).\n");

    // Every number letter prints unsigned decimal; "%%" takes no argument.
    Built letters;
    msg_entry_build(&letters.entry, nullptr, 1, "%1$o %2$x %3$X 100%% %4$s", 8, 255, -2, "done");
    EXPECT_EQ(letters.strings(), (Strings{"8", "255", "4294967294", "done"}));
    EXPECT_EQ(letters.rendered(), "8 255 4294967294 100% done");

    // Arguments follow the placeholders' order of appearance, not their
    // numbers, and rendering fills the n-th placeholder that appears with
    // the n-th argument.
    Built swapped;
    msg_entry_build(&swapped.entry, nullptr, 1, "%2$s before %1$s", "first", "second");
    EXPECT_EQ(swapped.strings(), (Strings{"first", "second"}));
    EXPECT_EQ(swapped.rendered(), "first before second");

    Built eleven;
    msg_entry_build(&eleven.entry, nullptr, 1, "%1$d%2$d%3$d%4$d%5$d%6$d%7$d%8$d%9$d%10$d%11$d", 1,
                    2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    EXPECT_EQ(eleven.args().length, 11u);
    EXPECT_EQ(eleven.args().maximum, 11u);
    EXPECT_EQ(eleven.rendered(), "1234567891011");

    Built null_string;
    msg_entry_build(&null_string.entry, nullptr, 1, "[%1$s]", static_cast<const char *>(nullptr));
    EXPECT_EQ(null_string.rendered(), "[(null)]");
}

// An errno the system has no text for is named by its number.
TEST(MessageEntry, ErrnoArgumentWithoutASystemTextIsItsNumber) {
    Built unknown;
    errno = 99999;
    msg_entry_build(&unknown.entry, nullptr, 1, "%1$s", "$errno");
    EXPECT_EQ(unknown.strings(), Strings{"errno=99999"});
}

TEST(MessageEntry, IllegalFormatsBecomeAFormatErrorEntry) {
    for (const char *text : {"Value %1$f is wrong", "Bare %s conversion", "Ends with %1$", "%"}) {
        Built bad;
        ASSERT_EQ(msg_entry_build(&bad.entry, "Korvo2Catalog", 42, text, 1.5, "x"), 1);
        EXPECT_EQ(bad.entry.catalog, nullptr) << text;
        EXPECT_EQ(bad.entry.number, 0);
        EXPECT_STREQ(bad.entry.default_msg, "Format has illegal types (%1$s)");
        EXPECT_EQ(bad.strings(), Strings{text});
        EXPECT_EQ(bad.rendered(), std::string("Format has illegal types (") + text + ")");
    }
}

TEST(MessageEntry, RenderingKeepsPlaceholdersItCannotFill) {
    Built entry;
    msg_entry_build(&entry.entry, nullptr, 1, "plain");
    mg_free(entry.entry.default_msg);
    entry.entry.default_msg = mg_strdup("%1$s %2$s %x %$s 50%");  // no arguments to fill them
    EXPECT_EQ(entry.rendered(), "%1$s %2$s %x %$s 50%");
    EXPECT_EQ(msg_entry_render(nullptr), nullptr);
    EXPECT_EQ(msg_entry_build(nullptr, nullptr, 1, "x"), 0);
    MessageEntry none;
    EXPECT_EQ(msg_entry_build(&none, nullptr, 1, nullptr), 0);
    EXPECT_EQ(none.default_msg, nullptr);
}

}  // namespace
