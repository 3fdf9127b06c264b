// The wildcard matcher: its documented answers and quirks, then agreement with
// a plain recursive reading of the rules on many random patterns and names.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "properties/helpers/match.h"
#include "tests/properties/match_reference.hpp"
#include "tests/runtime/test_locale.hpp"

namespace {

struct Case {
    const char *pattern;
    const char *name;
    int expected;
};

void ExpectAll(std::initializer_list<Case> cases) {
    for (const Case &c : cases) {
        EXPECT_EQ(match(c.pattern, c.name), c.expected)
            << "pattern " << testing::PrintToString(c.pattern) << " name "
            << testing::PrintToString(c.name);
    }
}

TEST(Match, StarsAndQuestionMarks) {
    ExpectAll({{"*.TOC", "A.TOC", 0},
               {"*.TOC", "A.TOCX", 1},
               {"*", "", 0},
               {"", "", 0},
               {"?", "", 1},
               {"", "a", 1},
               {"*a*a", "aXa", 0},
               {"*a*a", "aXb", 1},
               // Once the name is used up only "" or a single "*" may be left.
               {"**", "", 1},
               {"**", "a", 0},
               {"a**", "a", 1}});
    EXPECT_EQ(match(nullptr, "a"), KES_MATCH_NULL_ARGUMENT);
    EXPECT_EQ(match("a", nullptr), KES_MATCH_NULL_ARGUMENT);
}

TEST(Match, Sets) {
    ExpectAll({{"[AB]X", "BX", 0},
               {"[AB][CD]", "AX", 1},
               {"[^A]", "A", 1},
               {"[A-F]D", "BD", 0},
               {"[AB]YZ", "AYZ", 0},
               {"[AB", "B", 0},
               {"[\\]]x", "]x", 0},
               {"[]a]", "a", 1},
               {"[^]a]", "ba]", 0},
               {"[a-]x]", "x", 0},
               // Ranges compare signed bytes: a high byte is below every ASCII one.
               {"[\x80-a]", "A", 0},
               {"[a-\x80]", "b", 1}});
}

TEST(Match, MalformedSets) {
    ExpectAll({{"[", "a", -2},
               {"[A-", "a", -2},
               {"[^", "a", -2},
               {"a[", "ab", -2},
               // Without name left the rest of the pattern decides, malformed or not.
               {"[", "", 1},
               {"a[", "a", 1},
               // Behind a star a malformed set is a failed try.
               {"*[", "ab", 1},
               {"*a[b-", "xab", 1}});
}

TEST(Match, Backslashes) {
    ExpectAll({{"\\*", "*", 0}, {"\\*", "a", 1}, {"\\[a]", "[a]", 0}, {"a\\", "a\\", 0}});
    TestLocale gbk = TestLocale::Gbk();
    if (!gbk.ok())
        GTEST_SKIP() << "cannot build a GBK locale";
    // \x81\x5c is one character: its backslash escapes nothing.
    ExpectAll({{"\x81\\a", "\x81\\a", 0}, {"[\x81\\]]", "\\]", 0}, {"*\x81\\*", "x\x81\\y", 0}});
}

TEST(Match, ManyStarsOnALongName) {
    const std::string name(10000, 'a');
    std::string stars;
    for (int i = 0; i < 30; ++i)
        stars += "*a";
    EXPECT_EQ(match(stars.c_str(), name.c_str()), 0);
    EXPECT_EQ(match((stars + "b").c_str(), name.c_str()), 1);
    EXPECT_EQ(match((stars + "[").c_str(), name.c_str()), 1);
}

// Patterns draw on every special character, names on fewer letters so that a
// fair share of the pairs match. Longer names (with patterns of few stars,
// as the reference retries every star at every place) give the segments
// between stars several places to be found at.
void CompareWithReference(uint32_t seed, const std::string &pattern_letters,
                          const std::string &name_letters, size_t longest_name = 6,
                          int rounds = 300000) {
    std::mt19937 random(seed);
    auto pick = [&](const std::string &letters, size_t most) {
        std::string text(std::uniform_int_distribution<size_t>(0, most)(random), ' ');
        for (char &c : text)
            c = letters[random() % letters.size()];
        return text;
    };
    for (int round = 0; round < rounds; ++round) {
        std::string pattern = pick(pattern_letters, longest_name > 6 ? 12 : 8);
        if (longest_name > 6) {
            int stars = 0;
            for (char &c : pattern)
                if (c == '*' && ++stars > 3)
                    c = 'a';
        }
        const std::string name = pick(name_letters, longest_name);
        ASSERT_EQ(match(pattern.c_str(), name.c_str()),
                  ReferenceMatch(pattern.c_str(), name.c_str()))
            << "seed " << seed << " round " << round << ": pattern "
            << testing::PrintToString(pattern) << " name " << testing::PrintToString(name);
    }
}

TEST(Match, AgreesWithTheRulesOnRandomInput) {
    CompareWithReference(20240611, "***?[]^-\\ab", "ab]\\");
    CompareWithReference(7, "*?[]^-\\abc\x80", "abc]-\x80");
    CompareWithReference(31, "**?[]^-\\abb", "ab", 24, 100000);
    CompareWithReference(32, "*?abcab", "abc", 40, 100000);
    TestLocale gbk = TestLocale::Gbk();
    if (!gbk.ok())
        GTEST_SKIP() << "cannot build a GBK locale";
    CompareWithReference(99, "**?[]^-\\a\x81", "a]\\\x81");
}

}  // namespace
