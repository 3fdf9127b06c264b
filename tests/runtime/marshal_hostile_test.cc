// Decoding bytes nobody vouches for: every failure is reported through the
// error word, leaves the value zeroed and leaks nothing (the sanitizer build
// checks the last two), and whatever decodes re-encodes to the same bytes.
#include <gtest/gtest.h>

#include <random>

#include "runtime/generic.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "tests/runtime/sample_types.hpp"

namespace {

using korvo::test::all_zero;
using korvo::test::operator+;
using korvo::test::str;
using korvo::test::u32;
using sample::Bytes;

// Decodes as a property list list; on success checks that the bytes are the
// value's own encoding, on failure that nothing is left behind.
int32_t decode_toc(const Bytes &bytes) {
    sample::PropertiesList toc{};
    uint32_t consumed = 0;
    const int32_t error = sample::decode(sample::TC_PropertiesList, bytes, &toc, &consumed);
    if (error == ADR_OK) {
        EXPECT_EQ(sample::encode(sample::TC_PropertiesList, &toc),
                  Bytes(bytes.begin(), bytes.begin() + consumed));
    } else {
        EXPECT_TRUE(all_zero(&toc, sizeof toc));
    }
    vem_free_generic(&toc, sample::TC_PropertiesList);
    return error;
}

Bytes sample_toc() {
    sample::PropertiesList toc{};
    for (int s = 0; s < 2; ++s) {
        sample::Properties segment{};
        sample::add_property(segment, "id", sample::string_any(s == 0 ? "s1" : "s2"));
        sample::add_property(segment, "size", sample::long_any(1024 << s));
        auto *flag = static_cast<uint8_t *>(mg_malloc(1));
        *flag = 1;
        sample::add_property(segment, "disposable", Any{TC_boolean, flag});
        seq_add(&toc, &segment, sizeof segment);
    }
    Bytes bytes = sample::encode(sample::TC_PropertiesList, &toc);
    vem_free_generic(&toc, sample::TC_PropertiesList);
    return bytes;
}

class HostileDecode : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sample::register_types(), 1); }
};

TEST_F(HostileDecode, RandomCorruptionsFailCleanlyOrDecodeCanonically) {
    const Bytes whole = sample_toc();
    const unsigned seed = 20240531;
    std::mt19937 random(seed);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = whole;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % bytes.size();
            switch (random() % 3) {
                case 0:
                    bytes[at] = static_cast<uint8_t>(random());
                    break;
                case 1:
                    bytes[at] = 0xFF;
                    break;
                default:
                    bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(at));
                    break;
            }
        }
        decode_toc(bytes);
        if (HasFailure())
            FAIL() << "seed " << seed << " round " << round;
    }
}

TEST_F(HostileDecode, LengthsBeyondTheInputAreRefusedBeforeAllocating) {
    // Counts and lengths the remaining bytes cannot hold, up to the largest.
    for (uint32_t count : {2u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFEu}) {
        EXPECT_EQ(decode_toc(u32(count) + u32(0)), ADR_E_BAD_LENGTH) << count;
        sample::LongList longs{};
        EXPECT_EQ(sample::decode(sample::TC_LongList, u32(count) + u32(1), &longs),
                  ADR_E_BAD_LENGTH);
        char *text = nullptr;
        EXPECT_EQ(sample::decode(TC_string, u32(count) + Bytes{'a'}, &text), ADR_E_BAD_LENGTH);
        EXPECT_EQ(text, nullptr);
    }
    // Exactly enough input is accepted.
    sample::LongList longs{};
    EXPECT_EQ(sample::decode(sample::TC_LongList, u32(2) + u32(5) + u32(6), &longs), ADR_OK);
    EXPECT_EQ(longs.buffer[1], 6);
    vem_free_generic(&longs, sample::TC_LongList);
    // A property takes at least 8 bytes (its key's and its any's lengths).
    EXPECT_EQ(decode_toc(u32(1) + u32(2) + Bytes(15, 0xFF)), ADR_E_BAD_LENGTH);
    EXPECT_EQ(decode_toc(u32(1) + u32(2) + Bytes(16, 0xFF)), ADR_OK);  // null keys, empty anys
}

TEST_F(HostileDecode, MalformedValuesAreNamed) {
    Any any{};
    EXPECT_EQ(sample::decode(TC_any, str("Vem_Korvo2::NoSuchType") + u32(0), &any),
              ADR_E_UNKNOWN_TYPE);
    EXPECT_EQ(sample::decode(TC_any, str(std::string("str\0ing", 7)) + u32(0), &any),
              ADR_E_UNKNOWN_TYPE);
    EXPECT_EQ(sample::decode(TC_any, str("boolean") + Bytes{2}, &any), ADR_E_BAD_VALUE);
    EXPECT_TRUE(all_zero(&any, sizeof any));
    char *text = nullptr;
    EXPECT_EQ(sample::decode(TC_string, str(std::string("a\0b", 3)), &text), ADR_E_BAD_VALUE);
    // A zero anywhere in a longer string, and bytes that only look like
    // zeros to a careless word-at-a-time check (0x80, 0x01 after 0x00).
    for (size_t at = 0; at < 21; ++at) {
        std::string bytes(21, '\x80');
        bytes[at] = '\0';
        EXPECT_EQ(sample::decode(TC_string, str(bytes), &text), ADR_E_BAD_VALUE) << at;
    }
    const std::string high("\x80\x81\xff\x01\x80\x80\x80\x01\x81\x80\x01", 11);
    ASSERT_EQ(sample::decode(TC_string, str(high), &text), ADR_OK);
    EXPECT_EQ(std::string(text), high);
    mg_free(text);
    text = nullptr;
    EXPECT_EQ(sample::decode(TC_string, {}, &text), ADR_E_TRUNCATED);
    StringList strings{};
    EXPECT_EQ(sample::decode(TC_Vem_Types_StringList, u32(1) + u32(0xFFFFFFFF), &strings), ADR_OK);
    EXPECT_EQ(strings.buffer[0], nullptr);
    vem_free_generic(&strings, TC_Vem_Types_StringList);

    const uint32_t one = 1;
    TcWord bounded_members[2] = {{.type = TC_octet}, {.bound = &one}};
    TypeCodeRec bounded[1] = {{"Sample::Bounded", TC_STATE_STATIC, tk_sequence, sizeof(Sequence),
                               adr_v_dummy, 2, bounded_members}};
    OctetList octets{};
    EXPECT_EQ(sample::decode(bounded, u32(2) + Bytes{1, 2}, &octets), ADR_E_BOUND);
}

TEST_F(HostileDecode, NestingIsLimited) {
    auto nested = [](int layers) {
        const Bytes layer = str("any");
        Bytes bytes;
        for (int i = 0; i < layers; ++i)
            bytes.insert(bytes.end(), layer.begin(), layer.end());
        return bytes + u32(0xFFFFFFFF);
    };
    Any any{};
    ASSERT_EQ(sample::decode(TC_any, nested(ADR_MAX_DEPTH), &any), ADR_OK);
    vem_free_generic(&any, TC_any);
    EXPECT_EQ(sample::decode(TC_any, nested(ADR_MAX_DEPTH + 1), &any), ADR_E_TOO_DEEP);
    EXPECT_EQ(sample::decode(TC_any, nested(100000), &any), ADR_E_TOO_DEEP);
    EXPECT_TRUE(all_zero(&any, sizeof any));

    // An empty sequence is a level too, for the decoder as for the encoder:
    // whatever decodes must encode again.
    auto empty_octets_in = [&](int anys) {
        Bytes bytes = nested(anys);
        bytes.resize(bytes.size() - 4);
        return bytes + str("Vem_Types::OctetList") + u32(0);
    };
    const Bytes deepest = empty_octets_in(ADR_MAX_DEPTH - 2);
    ASSERT_EQ(sample::decode(TC_any, deepest, &any), ADR_OK);
    EXPECT_EQ(sample::encode(TC_any, &any), deepest);
    vem_free_generic(&any, TC_any);
    EXPECT_EQ(sample::decode(TC_any, empty_octets_in(ADR_MAX_DEPTH - 1), &any), ADR_E_TOO_DEEP);
}

}  // namespace
