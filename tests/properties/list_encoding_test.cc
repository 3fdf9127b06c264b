// Property lists take a flat path through the encoder and the decoder; these
// are the places where it hands over to the general walk, or must not read
// what it was not given: texts that end right before unreadable memory,
// texts longer than the room it keeps at hand, and lists nested up to the
// depth limit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "properties/korvo_properties.h"
#include "tests/properties/props_test_util.hpp"
#include "tests/support/test_host.hpp"

namespace {

using namespace props_test;

using ListEncoding = Initialized;

// Two pages, the second unreadable: a text placed so that its terminator is
// the first page's last byte.
class GuardedText {
  public:
    bool ok() const { return pages_.ok(); }
    char *place(const std::string &text) {
        char *at = pages_.guard() - text.size() - 1;
        std::memcpy(at, text.c_str(), text.size() + 1);
        return at;
    }

  private:
    korvo::test::GuardedPages pages_;
};

TEST_F(ListEncoding, TextsEndingAtUnreadableMemoryAreReadUpToTheirEnd) {
    GuardedText keys, values;
    ASSERT_TRUE(keys.ok() && values.ok());
    for (size_t length = 0; length < 40; ++length) {
        const std::string key(length, 'k');
        const std::string value(length + 3, 'v');
        char *text = values.place(value);
        Property property{keys.place(key), Any{TC_string, &text}};
        Properties list{1, 1, &property};
        ASSERT_EQ(encode(kProperties, &list), u32(1) + str(key) + str("string") + str(value))
            << length;
    }
}

// Texts longer than the room the flat path keeps at hand, among short ones.
TEST_F(ListEncoding, LongTextsComeOutWhole) {
    props_test::List list;
    Bytes expected = u32(6);
    for (size_t length : {0u, 250u, 5000u, 3u, 70000u, 1u}) {
        const std::string key = "key" + std::to_string(length);
        const std::string value(length, 'x');
        properties_put_string_dup(&list, key.c_str(), value.c_str());
        expected = expected + str(key) + str("string") + str(value);
    }
    const Bytes bytes = encode(kProperties, &list);
    ASSERT_EQ(bytes, expected);
    props_test::List back;
    ASSERT_EQ(decode(kProperties, bytes, &back), ADR_OK);
    EXPECT_EQ(encode(kProperties, &back), bytes);
}

// Lists inside lists, the innermost holding a value of each flat kind: the
// deepest nesting that encodes decodes, and one level more fails both ways.
TEST_F(ListEncoding, NestingUpToTheLimitEncodesAndDecodes) {
    const uint8_t octets[] = {1, 2, 3};
    for (int kind = 0; kind < 3; ++kind) {
        int deepest = -1;
        Bytes deepest_bytes;
        for (int depth = 15; depth < 25; ++depth) {
            props_test::List inner;
            if (kind == 0)
                properties_put_string_dup(&inner, "v", "text");
            else if (kind == 1)
                properties_put_long_dup(&inner, "v", 7);
            else {
                OctetList list{3, 3, const_cast<uint8_t *>(octets)};
                properties_put_OctetList_dup(&inner, "v", &list);
            }
            for (int level = 0; level < depth; ++level) {
                props_test::List outer;
                properties_put_properties_dup(&outer, "in", &inner);
                properties_delete(&inner);
                std::swap(static_cast<Properties &>(inner), static_cast<Properties &>(outer));
            }
            int32_t error = ADR_OK;
            const Bytes bytes = encode(kProperties, &inner, &error);
            props_test::List back;
            if (error == ADR_OK) {
                ASSERT_EQ(decode(kProperties, bytes, &back), ADR_OK) << kind << " " << depth;
                EXPECT_EQ(encode(kProperties, &back), bytes);
                deepest = depth;
                deepest_bytes = bytes;
            } else {
                EXPECT_EQ(error, ADR_E_TOO_DEEP);
                // The same list made by hand from the deepest that encoded
                // does not decode either.
                const Bytes deeper = u32(1) + str("in") + str(kProperties->name) + deepest_bytes;
                props_test::List refused;
                EXPECT_EQ(decode(kProperties, deeper, &refused), ADR_E_TOO_DEEP) << kind;
                EXPECT_TRUE(all_zero(&refused, sizeof(Properties))) << kind;
                break;
            }
        }
        EXPECT_GT(deepest, 15) << kind;
        EXPECT_LT(deepest, 24) << kind;
    }
}

}  // namespace
