// Decoding property lists from bytes that were cut short or made up to hurt:
// every failure is clean (its error code, a zeroed value, nothing leaked).
// Nesting too deep: list_encoding_test.cc.
// Garbled bytes at large are the fuzz target's (fuzz/properties_decode.cc).
#include <gtest/gtest.h>

#include <string>

#include "properties/korvo_properties.h"
#include "tests/properties/props_test_util.hpp"

namespace {

using namespace props_test;

using HostileDecode = Initialized;

// A TOC of two segments with a value of every kind a segment carries.
Bytes sample_toc() {
    props_test::Toc toc;
    for (int i = 0; i < 2; ++i) {
        Properties segment{};
        properties_put_string_dup(&segment, "id", ("seg" + std::to_string(i)).c_str());
        properties_put_long_dup(&segment, "size", 4096);
        properties_put_boolean_dup(&segment, "disposable", 1);
        const uint8_t sum[] = {1, 2, 3};
        OctetList checksum{3, 3, const_cast<uint8_t *>(sum)};
        properties_put_OctetList_dup(&segment, "checksum", &checksum);
        Properties inner{};
        properties_put_short_dup(&inner, "pri", 3);
        properties_put_properties(&segment, "inner",
                                  static_cast<Properties *>(mg_calloc(1, sizeof(Properties))));
        properties_put_properties_dup(&segment, "inner", &inner);
        properties_delete(&inner);
        seq_add(&toc, &segment, sizeof segment);
    }
    return encode(kPropertiesList, &toc);
}

TEST_F(HostileDecode, EveryTruncationFailsCleanly) {
    const Bytes whole = sample_toc();
    for (size_t n = 0; n < whole.size(); ++n) {
        PropertiesList toc;
        const Bytes part(whole.begin(), whole.begin() + static_cast<long>(n));
        const int32_t error = decode(kPropertiesList, part, &toc);
        EXPECT_TRUE(error == ADR_E_TRUNCATED || error == ADR_E_BAD_LENGTH) << n << ": " << error;
        EXPECT_TRUE(all_zero(&toc, sizeof toc)) << n;
    }
}

TEST_F(HostileDecode, MadeUpInputsAreRefusedByTheirCode) {
    const struct {
        const char *what;
        Bytes bytes;
        int32_t error;
    } cases[] = {
        {"count larger than the input", u32(0xFFFFFFFF), ADR_E_BAD_LENGTH},
        {"count just beyond the input", u32(2) + str("k") + str("long") + u32(1), ADR_E_TRUNCATED},
        {"key longer than the input", u32(1) + u32(0x7FFFFFFF) + Bytes(8, 'a'), ADR_E_BAD_LENGTH},
        {"unknown type name", u32(1) + str("k") + str("Vem_Korvo2::Nothing") + u32(1),
         ADR_E_UNKNOWN_TYPE},
        {"type name with a NUL", u32(1) + str("k") + u32(5) + Bytes{'l', 'o', 0, 'n', 'g'},
         ADR_E_UNKNOWN_TYPE},
        {"boolean out of range", u32(1) + str("k") + str("boolean") + Bytes{2}, ADR_E_BAD_VALUE},
        {"key holding a NUL", u32(1) + u32(3) + Bytes{'a', 0, 'b'} + str("long") + u32(1),
         ADR_E_BAD_VALUE},
        {"huge nested count", u32(1) + str("k") + str("Vem_Korvo2::Properties") + u32(0x10000000),
         ADR_E_BAD_LENGTH},
    };
    for (const auto &c : cases) {
        Properties list;
        EXPECT_EQ(decode(kProperties, c.bytes, &list), c.error) << c.what;
        EXPECT_TRUE(all_zero(&list, sizeof list)) << c.what;
    }
}

}  // namespace
