// The encoding: the fixed forms of the basic kinds, round trips of every
// kind, determinism, and the failures an encoder reports. (The documented
// property-list examples are pinned with the library's own types.)
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/generic.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "tests/runtime/sample_types.hpp"

namespace {

using korvo::test::operator+;
using korvo::test::str;
using korvo::test::u32;
using sample::Bytes;

class Marshal : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sample::register_types(), 1); }
};

TEST_F(Marshal, BasicKindsHaveFixedBigEndianForms) {
    int16_t s = -2;
    int32_t l = -1;
    uint32_t ul = 0x01020304;
    uint8_t truth = 7, octet = 0xAB;
    char *null_text = nullptr;
    char empty[] = "";
    Any none{nullptr, nullptr};
    EXPECT_EQ(sample::encode(TC_short, &s), Bytes({0xFF, 0xFE}));
    EXPECT_EQ(sample::encode(TC_long, &l), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(sample::encode(TC_ulong, &ul), Bytes({1, 2, 3, 4}));
    EXPECT_EQ(sample::encode(TC_boolean, &truth), Bytes({1}));  // any nonzero is true
    EXPECT_EQ(sample::encode(TC_octet, &octet), Bytes({0xAB}));
    EXPECT_EQ(sample::encode(TC_string, &null_text), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    char *empty_text = empty;
    EXPECT_EQ(sample::encode(TC_string, &empty_text), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(sample::encode(TC_any, &none), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    ObjectRef repeater = mg_strdup("rpt://gw1");
    EXPECT_EQ(sample::encode(sample::TC_Repeater, &repeater), str("rpt://gw1"));
    Any held{sample::TC_Repeater, &repeater};
    EXPECT_EQ(sample::encode(TC_any, &held), str("Vem_Korvo2::Repeater") + str("rpt://gw1"));
    mg_free(repeater);
}

// A property-shaped structure whose own marshal function counts its calls.
int counted_calls = 0;
int marshal_counted(AdrBuffer *buffer, void *value) {
    ++counted_calls;
    return sample::marshal_property(buffer, value);
}
TcWord counted_members[5] = {{.name = "Sample::Counted"},
                             {.name = "key"},
                             {.type = TC_string},
                             {.name = "value"},
                             {.type = TC_any}};
TypeCodeRec TC_Counted[1] = {{"Sample::Counted", TC_STATE_STATIC, tk_struct,
                              sizeof(sample::Property), marshal_counted, 5, counted_members}};
TcWord counted_list_members[2] = {{.type = TC_Counted}, {.bound = &_any_bound_zero}};
TypeCodeRec TC_CountedList[1] = {{"Sample::CountedList", TC_STATE_STATIC, tk_sequence,
                                  sizeof(sample::Properties), adr_v_dummy, 2,
                                  counted_list_members}};

TEST_F(Marshal, DeclaredMemberWalksGiveTheSameBytesWithoutTheCall) {
    sample::Properties list{};
    sample::add_property(list, "id", sample::string_any("s1"));
    sample::add_property(list, "size", sample::long_any(7));
    sample::add_property(list, "none", Any{nullptr, nullptr});
    sample::Property single = list.buffer[0];

    const Bytes called = sample::encode(TC_CountedList, &list);
    const Bytes single_called = sample::encode(TC_Counted, &single);
    sample::Properties decoded_called{};
    ASSERT_EQ(sample::decode(TC_CountedList, called, &decoded_called), ADR_OK);
    const Bytes cut(called.begin(), called.end() - 3);
    sample::Properties scratch{};
    const int32_t cut_error = sample::decode(TC_CountedList, cut, &scratch);
    EXPECT_EQ(counted_calls, 3 + 1 + 3 + 3);

    EXPECT_EQ(adr_declare_member_walk(nullptr), 0);
    ASSERT_EQ(adr_declare_member_walk(marshal_counted), 1);
    EXPECT_EQ(adr_declare_member_walk(marshal_counted), 1);
    counted_calls = 0;
    EXPECT_EQ(sample::encode(TC_CountedList, &list), called);
    EXPECT_EQ(sample::encode(TC_Counted, &single), single_called);
    sample::Properties decoded_walked{};
    ASSERT_EQ(sample::decode(TC_CountedList, called, &decoded_walked), ADR_OK);
    EXPECT_EQ(_t_generic_equal(TC_CountedList, nullptr, &decoded_called, &decoded_walked), 1);
    EXPECT_EQ(sample::decode(TC_CountedList, cut, &scratch), cut_error);
    EXPECT_EQ(counted_calls, 0);

    for (auto *l : {&list, &decoded_called, &decoded_walked})
        vem_free_generic(l, TC_CountedList);
}

TEST_F(Marshal, EveryKindRoundTripsAndReencodesToTheSameBytes) {
    sample::AllKinds value = sample::all_kinds();
    int32_t error = -1;
    const Bytes bytes = sample::encode(sample::TC_AllKinds, &value, &error);
    ASSERT_EQ(error, ADR_OK);

    sample::AllKinds decoded;
    std::memset(&decoded, 0x5A, sizeof decoded);  // decoding zeroes the storage first
    ASSERT_EQ(sample::decode(sample::TC_AllKinds, bytes, &decoded), ADR_OK);
    EXPECT_EQ(_t_generic_equal(sample::TC_AllKinds, nullptr, &value, &decoded), 1);
    EXPECT_EQ(decoded.l, INT32_MIN);
    EXPECT_EQ(decoded.ul, UINT32_MAX);
    EXPECT_STREQ(decoded.text, value.text);
    EXPECT_EQ(decoded.strings.buffer[2], nullptr);
    EXPECT_STREQ(decoded.strings.buffer[1], "");
    EXPECT_EQ(decoded.any.type, sample::TC_Properties);
    EXPECT_EQ(decoded.inner.count, 42);
    EXPECT_EQ(decoded.octets.maximum, 4u);
    EXPECT_EQ(sample::encode(sample::TC_AllKinds, &decoded), bytes);

    vem_free_generic(&value, sample::TC_AllKinds);
    vem_free_generic(&decoded, sample::TC_AllKinds);
}

TEST_F(Marshal, EqualValuesGiveEqualBytesWhateverTheirSpareRoom) {
    sample::Properties a{}, b{};
    sample::add_property(a, "k", sample::long_any(5));
    sample::add_property(b, "k", sample::long_any(5));
    for (int i = 0; i < 20; ++i)
        sample::add_property(b, "spare", sample::long_any(i));
    for (int i = 0; i < 20; ++i)
        vem_free_generic(&b.buffer[--b.length], sample::TC_Property);
    ASSERT_NE(a.maximum, b.maximum);
    EXPECT_EQ(sample::encode(sample::TC_Properties, &a), sample::encode(sample::TC_Properties, &b));
    vem_free_generic(&a, sample::TC_Properties);
    vem_free_generic(&b, sample::TC_Properties);
}

TEST_F(Marshal, AliasNamesDecodeToTheirType) {
    const Bytes bytes = str("Vem_Korvo2::Properties") + u32(0);
    Any value{};
    ASSERT_EQ(sample::decode(TC_any, bytes, &value), ADR_OK);
    EXPECT_EQ(value.type, sample::TC_Properties);
    vem_free_generic(&value, TC_any);
}

TEST_F(Marshal, EncodingReportsValuesItCannotWrite) {
    int32_t error = 0;
    // A type no registered repository names could never be decoded again.
    TcWord unknown_members[2] = {{.type = TC_long}, {.bound = nullptr}};
    TypeCodeRec unknown[1] = {{"Sample::Unregistered", TC_STATE_STATIC, tk_sequence,
                               sizeof(Sequence), adr_v_dummy, 2, unknown_members}};
    Sequence empty{};
    Any hidden{unknown, &empty};
    EXPECT_TRUE(sample::encode(TC_any, &hidden, &error).empty());
    EXPECT_EQ(error, ADR_E_UNKNOWN_TYPE);

    Any cellless{TC_long, nullptr};
    sample::encode(TC_any, &cellless, &error);
    EXPECT_EQ(error, ADR_E_NULL_VALUE);

    sample::LongList broken{3, 3, nullptr};
    sample::encode(sample::TC_LongList, &broken, &error);
    EXPECT_EQ(error, ADR_E_NULL_VALUE);

    const uint32_t two = 2;
    TcWord bounded_members[2] = {{.type = TC_long}, {.bound = &two}};
    TypeCodeRec bounded[1] = {{"Sample::Bounded", TC_STATE_STATIC, tk_sequence, sizeof(Sequence),
                               adr_v_dummy, 2, bounded_members}};
    int32_t numbers[3] = {1, 2, 3};
    Sequence three{3, 3, numbers};
    sample::encode(bounded, &three, &error);
    EXPECT_EQ(error, ADR_E_BOUND);
    Sequence two_numbers{3, 2, numbers};
    EXPECT_EQ(sample::encode(bounded, &two_numbers, &error).size(), 12u);

    TypeCodeRec real[1] = {{"double", TC_STATE_STATIC, tk_double, 8, nullptr, 0, nullptr}};
    double d = 1.0;
    sample::encode(real, &d, &error);
    EXPECT_EQ(error, ADR_E_BAD_TYPE);

    // Anys nested deeper than the limit.
    std::vector<Any> chain(ADR_MAX_DEPTH + 2);
    chain.back() = Any{nullptr, nullptr};
    for (size_t i = 0; i + 1 < chain.size(); ++i)
        chain[i] = Any{TC_any, &chain[i + 1]};
    sample::encode(TC_any, &chain[1], &error);
    EXPECT_EQ(error, ADR_OK);  // ADR_MAX_DEPTH nested anys
    sample::encode(TC_any, &chain[0], &error);
    EXPECT_EQ(error, ADR_E_TOO_DEEP);
}

TEST_F(Marshal, BuffersKeepTheirFirstErrorAndHandOverTheirData) {
    AdrBuffer *buffer = adr_init_encode_buffer(mg_malloc(2), 2);
    int32_t n = 0x11223344;
    ASSERT_EQ(marshal_item(buffer, TC_long, &n), 1);
    ASSERT_EQ(marshal_item(buffer, TC_long, &n), 1);  // grows past the block it was given
    EXPECT_EQ(buffer->length, 8u);
    EXPECT_EQ(marshal_item(buffer, TC_long, nullptr), 0);
    EXPECT_EQ(buffer->error, ADR_E_BAD_ARGUMENT);
    EXPECT_EQ(marshal_item(buffer, TC_long, &n), 0);  // sticky: nothing more is written
    EXPECT_EQ(buffer->length, 8u);
    uint8_t *data = buffer->data;
    mg_free(buffer);  // the data stays the caller's
    EXPECT_EQ(Bytes(data, data + 8), u32(0x11223344) + u32(0x11223344));
    mg_free(data);

    // Several items decode one after another from one buffer.
    const Bytes two = u32(7) + str("x");
    AdrBuffer *reader = adr_init_decode_buffer(two.data(), static_cast<uint32_t>(two.size()));
    int32_t seven = 0;
    char *x = nullptr;
    EXPECT_EQ(marshal_item(reader, TC_long, &seven), 1);
    EXPECT_EQ(reader->position, 4u);
    EXPECT_EQ(adr_v_string(reader, &x), 1);
    EXPECT_EQ(seven, 7);
    EXPECT_STREQ(x, "x");
    EXPECT_EQ(adr_v_long(reader, &seven), 0);
    EXPECT_EQ(reader->error, ADR_E_TRUNCATED);
    mg_free(x);
    adr_free_buf(reader);
    adr_free_buf(nullptr);
}

}  // namespace
