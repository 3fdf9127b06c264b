// Property lists: lookups and their failures, replacing and appending puts,
// who owns what after a put, removal, cloning, equality and matching, and the
// exported sequence helpers. Leaks and double frees are left to the
// sanitized run of the suite to find.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "properties/korvo_properties.h"
#include "properties/korvo_seq.h"
#include "runtime/generic.h"
#include "tests/properties/props_test_util.hpp"

namespace {

using namespace props_test;

using PropertyLists = Initialized;

std::string keys_of(const Properties &list) {
    std::string keys;
    for (uint32_t i = 0; i < list.length; ++i)
        keys += std::string(i != 0 ? "," : "") + list.buffer[i].key;
    return keys;
}

TEST_F(PropertyLists, LookupsOnEmptyAndMissing) {
    List list;
    EXPECT_EQ(properties_get(&list, "id", TC_string, 0), nullptr);
    EXPECT_EQ(properties_get_property_index(&list, "id"), -1);
    EXPECT_EQ(properties_find(&list, "id"), 0);
    EXPECT_EQ(properties_get_property_index(nullptr, "id"), -1);
    EXPECT_EQ(properties_get_long2(&list, "size", -7), -7);
    EXPECT_STREQ(properties_get_string2(&list, "id", const_cast<char *>("none")), "none");
    EXPECT_EQ(properties_get_boolean2(&list, "flag", 1), 1);
    Properties fallback{};
    EXPECT_EQ(properties_get_properties2(&list, "inner", &fallback), &fallback);

    const auto missing = raised_by([&] { properties_get_long(&list, "size"); });
    EXPECT_EQ(missing.number, KORVO_MSG_PROPERTY_NOT_FOUND);
    EXPECT_EQ(missing.catalog, "Korvo2Catalog");
    EXPECT_EQ(missing.text, "Unable to find the property associated with the key size.\n");
    EXPECT_EQ(raised_by([&] { properties_get(&list, "x", TC_long, 1); }).number, 36);
}

TEST_F(PropertyLists, GettersReadEveryKindOfCell) {
    List list;
    properties_put_string_dup(&list, "s", "text");
    properties_put_object_dup(&list, "o", "rpt://gw1");
    properties_put_short_dup(&list, "h", -2);
    properties_put_long_dup(&list, "l", -100000);
    properties_put_ulong_dup(&list, "u", 4000000000u);
    properties_put_boolean_dup(&list, "b", 7);  // stored as true: 1
    const uint8_t bytes[] = {0, 1, 0xFF};
    OctetList octets{3, 3, const_cast<uint8_t *>(bytes)};
    properties_put_OctetList_dup(&list, "c", &octets);
    int32_t number = 5;
    Any any{TC_long, &number};
    properties_put_any_dup(&list, "a", &any);

    EXPECT_STREQ(properties_get_string(&list, "s"), "text");
    EXPECT_STREQ(properties_get_object(&list, "o"), "rpt://gw1");
    EXPECT_EQ(properties_get_short(&list, "h"), -2);
    EXPECT_EQ(properties_get_long(&list, "l"), -100000);
    EXPECT_EQ(properties_get_ulong2(&list, "u", 0), 4000000000u);
    EXPECT_EQ(properties_get_boolean(&list, "b"), 1);
    const OctetList *got = properties_get_OctetList(&list, "c");
    ASSERT_EQ(got->length, 3u);
    EXPECT_EQ(got->buffer[2], 0xFF);
    const Any *got_any = properties_get_any(&list, "a");
    EXPECT_EQ(got_any->type, TC_long);
    EXPECT_EQ(*static_cast<int32_t *>(got_any->value), 5);
    // The string getter hands out the list's own string, not a copy.
    EXPECT_EQ(properties_get_string(&list, "s"), *static_cast<char **>(list.buffer[0].value.value));
    EXPECT_EQ(keys_of(list), "s,o,h,l,u,b,c,a");
}

TEST_F(PropertyLists, ReplacingPutKeepsPositionAndChangesType) {
    List list;
    properties_put_string_dup(&list, "id", "seg1");
    properties_put_long_dup(&list, "size", 10);
    properties_put_string_dup(&list, "version", "1.0");
    EXPECT_EQ(properties_put_string_dup(&list, "size", "big"), 1);
    EXPECT_EQ(keys_of(list), "id,size,version");
    EXPECT_EQ(list.length, 3u);
    EXPECT_STREQ(properties_get_string(&list, "size"), "big");

    // A wrong type raises 37 whether or not a default was given, and the
    // list stays as it was.
    const Bytes before = encode(kProperties, &list);
    const auto wrong = raised_by([&] { properties_get_long2(&list, "size", 0); });
    EXPECT_EQ(wrong.number, KORVO_MSG_PROPERTY_WRONG_TYPE);
    EXPECT_EQ(wrong.arguments, std::vector<std::string>{"size"});
    EXPECT_EQ(raised_by([&] { properties_get(&list, "size", TC_long, 0); }).number, 37);
    EXPECT_EQ(raised_by([&] { properties_get_properties(&list, "id"); }).number, 37);
    EXPECT_EQ(encode(kProperties, &list), before);
}

TEST_F(PropertyLists, KeysAreExactAndTheFirstOccurrenceWins) {
    // A decoded list may carry a key twice.
    const Bytes bytes = props_test::u32(3) +                                                    //
                        props_test::str("id") + props_test::str("long") + props_test::u32(1) +  //
                        props_test::str("Id") + props_test::str("long") + props_test::u32(2) +  //
                        props_test::str("id") + props_test::str("long") + props_test::u32(3);
    List list;
    ASSERT_EQ(props_test::decode(kProperties, bytes, &list), ADR_OK);
    EXPECT_EQ(properties_get_long(&list, "id"), 1);
    EXPECT_EQ(properties_get_long(&list, "Id"), 2);
    EXPECT_EQ(properties_find(&list, "ID"), 0);
    EXPECT_EQ(properties_find(&list, "i"), 0);
    // A put replaces the first and removal takes the first.
    properties_put_long_dup(&list, "id", 9);
    EXPECT_EQ(properties_get_long(&list, "id"), 9);
    EXPECT_EQ(properties_remove_and_destroy(&list, "id"), 0);
    EXPECT_EQ(properties_get_long(&list, "id"), 3);
    EXPECT_EQ(keys_of(list), "Id,id");
}

TEST_F(PropertyLists, DupPuttersCopyDeeplyAndLeaveTheCallersValue) {
    List list;
    char text[] = "seg1";
    properties_put_string_dup(&list, "id", text);
    text[0] = 'X';
    EXPECT_STREQ(properties_get_string(&list, "id"), "seg1");

    // A nested list put by copy outlives the list it was copied from.
    auto *inner = properties_new();
    properties_put_string_dup(inner, "name", "inner");
    properties_put_properties_dup(&list, "inner", inner);
    Toc toc;
    seq_add(&toc, inner, sizeof *inner);  // the toc takes the inner list's contents
    properties_put_properties_list_dup(&list, "toc", &toc);
    mg_free(inner);
    properties_list_delete(&toc);
    EXPECT_STREQ(properties_get_string(properties_get_properties(&list, "inner"), "name"), "inner");
    const PropertiesList *copied = properties_get_properties_list(&list, "toc");
    ASSERT_EQ(copied->length, 1u);
    EXPECT_STREQ(properties_get_string(&copied->buffer[0], "name"), "inner");

    // A put that replaces frees the old value; one that hands a getter's cell
    // back keeps it.
    properties_put_properties_dup(&list, "inner", properties_get_properties(&list, "inner"));
    Any *any_cell = static_cast<Any *>(mg_calloc(1, sizeof(Any)));
    properties_put_any(&list, "a", any_cell);
    properties_put_any(&list, "a", properties_get_any(&list, "a"));
    EXPECT_EQ(properties_get_any(&list, "a"), any_cell);
}

TEST_F(PropertyLists, PuttersWithoutDupTakeTheCell) {
    List list;
    auto **cell = static_cast<char **>(mg_malloc(sizeof(char *)));
    *cell = mg_strdup("owned");
    EXPECT_EQ(properties_put_string(&list, "s", cell), 0);
    EXPECT_EQ(list.buffer[0].value.value, cell);
    auto *number = static_cast<int32_t *>(mg_malloc(sizeof(int32_t)));
    *number = 3;
    properties_put_long(&list, "s", number);  // frees the string cell
    EXPECT_EQ(properties_get_long(&list, "s"), 3);
    // Without a list or key the cell still goes.
    auto *lost = static_cast<int16_t *>(mg_malloc(sizeof(int16_t)));
    EXPECT_EQ(properties_put_short(nullptr, "k", lost), -1);
    EXPECT_EQ(properties_put(&list, nullptr, TC_string, mg_calloc(1, sizeof(char *))), -1);
}

TEST_F(PropertyLists, RemovingHandsThePropertyToTheCaller) {
    List list;
    properties_put_string_dup(&list, "a", "1");
    properties_put_string_dup(&list, "b", "2");
    properties_put_string_dup(&list, "c", "3");
    EXPECT_EQ(properties_remove(&list, "zz"), nullptr);
    EXPECT_EQ(properties_remove_and_destroy(&list, "zz"), -1);
    EXPECT_EQ(properties_remove(nullptr, "a"), nullptr);

    Property *removed = properties_remove(&list, "b");
    ASSERT_NE(removed, nullptr);
    EXPECT_STREQ(removed->key, "b");
    EXPECT_STREQ(*static_cast<char **>(removed->value.value), "2");
    vem_free_generic(removed, TC_Vem_Korvo2_Property);
    mg_free(removed);
    EXPECT_EQ(keys_of(list), "a,c");
    EXPECT_EQ(properties_get_property_index(&list, "c"), 1);
}

TEST_F(PropertyLists, NestedListsCloneCompareAndDelete) {
    auto *segment = properties_new();
    properties_put_string_dup(segment, "id", "s1");
    properties_put_long_dup(segment, "size", 1024);
    auto *toc = properties_list_new();
    seq_add(toc, segment, sizeof *segment);
    mg_free(segment);
    auto *message = properties_new();
    properties_put_properties_list_dup(message, "j_toc", toc);
    properties_put_string_dup(message, "id", "dist-1");

    Properties *copy = properties_clone(message);
    PropertiesList *toc_copy = properties_list_clone(toc);
    EXPECT_NE(copy->buffer, message->buffer);
    EXPECT_EQ(encode(kProperties, copy), encode(kProperties, message));
    EXPECT_EQ(qel_generic_equal(kPropertiesList, nullptr, toc_copy, toc), 1);
    EXPECT_EQ(properties_clone(nullptr), nullptr);

    // The copy is independent: change a segment deep inside it.
    PropertiesList *inner = properties_get_properties_list(copy, "j_toc");
    properties_put_long_dup(&inner->buffer[0], "size", 2048);
    EXPECT_EQ(qel_generic_equal(kProperties, nullptr, copy, message), 0);
    EXPECT_EQ(
        properties_get_long(&properties_get_properties_list(message, "j_toc")->buffer[0], "size"),
        1024);

    for (Properties *list : {copy, message}) {
        properties_delete(list);
        EXPECT_EQ(list->length, 0u);
        mg_free(list);
    }
    for (PropertiesList *list : {toc_copy, toc}) {
        properties_list_delete(list);
        mg_free(list);
    }
    properties_delete(nullptr);
    properties_list_delete(nullptr);
}

TEST_F(PropertyLists, FreeLeavesTheValuesToTheirOwner) {
    int32_t number = 4;  // a cell that is not the list's
    List borrowed;
    properties_put_long(&borrowed, "n", &number);
    properties_free(&borrowed);
    EXPECT_EQ(borrowed.length, 0u);
    EXPECT_EQ(borrowed.buffer, nullptr);
    EXPECT_EQ(number, 4);
}

TEST_F(PropertyLists, EqualityAndMatching) {
    List a, b;
    properties_put_string_dup(&a, "id", "a*");
    properties_put_string_dup(&b, "id", "abc");
    properties_put_string_dup(&b, "name", "abc");
    properties_put_long_dup(&a, "size", 1);
    properties_put_long_dup(&b, "size", 1);
    properties_put_short_dup(&b, "short", 1);
    properties_put_string_dup(&a, "bad", "[ab");
    properties_put_string_dup(&b, "bad", "abc");
    properties_put_string_dup(&a, "n", "*");
    properties_put_long_dup(&b, "n", 5);
    const Property &pattern = a.buffer[0], &abc = b.buffer[0], &other_key = b.buffer[1];

    EXPECT_EQ(property_match(&pattern, &abc), 1);
    EXPECT_EQ(property_match(&pattern, &other_key), 0);
    EXPECT_EQ(property_equal(&pattern, &abc), 0);
    EXPECT_EQ(property_match(&abc, &pattern), 0);  // "abc" as a pattern
    // Non-string values compare by their bytes: equal longs match, a short
    // of the same number does not equal a long.
    EXPECT_EQ(property_match(&a.buffer[1], &b.buffer[2]), 1);
    EXPECT_EQ(property_equal(&a.buffer[1], &b.buffer[2]), 1);
    Property renamed = b.buffer[3];
    renamed.key = const_cast<char *>("size");
    EXPECT_EQ(property_equal(&a.buffer[1], &renamed), 0);
    // A malformed pattern and a candidate that is no string do not match.
    EXPECT_EQ(property_match(&a.buffer[2], &b.buffer[4]), 0);
    EXPECT_EQ(property_match(&a.buffer[3], &b.buffer[5]), 0);
    EXPECT_EQ(property_match(nullptr, &abc), 0);
}

TEST_F(PropertyLists, QelEqualComparesEncodingsInOrder) {
    List first, second;
    properties_put_string_dup(&first, "id", "s1");
    properties_put_long_dup(&first, "size", 1);
    properties_put_long_dup(&second, "size", 1);
    properties_put_string_dup(&second, "id", "s1");
    Env env{};
    EXPECT_EQ(qel_generic_equal(kProperties, &env, &first, &second), 0);
    EXPECT_EQ(env.failed, 0);
    EXPECT_EQ(qel_generic_equal(kProperties, &env, &first, &first), 1);
    List same;
    properties_put_string_dup(&same, "id", "s1");
    properties_put_long_dup(&same, "size", 1);
    EXPECT_EQ(qel_generic_equal(kProperties, &env, &first, &same), 1);

    // A value that cannot be encoded records the first failing code.
    TypeCodeRec unregistered[1] = {
        {"Sample::Unregistered", TC_STATE_STATIC, tk_long, 4, nullptr, 0, nullptr}};
    List broken;
    properties_put(&broken, "x", unregistered, mg_calloc(1, 4));
    EXPECT_EQ(qel_generic_equal(kProperties, &env, &first, &broken), 0);
    ASSERT_EQ(env.failed, 1);
    EXPECT_STREQ(eh_exception_text(env.exception), "Marshalling error (3)");
    // The env is cleared on entry, and the earlier record released.
    EXPECT_EQ(qel_generic_equal(kProperties, &env, &first, &same), 1);
    EXPECT_EQ(env.failed, 0);
    EXPECT_EQ(property_equal(&broken.buffer[0], &broken.buffer[0]), 1);
    Property twin = broken.buffer[0];
    EXPECT_EQ(property_equal(&broken.buffer[0], &twin), 0);
}

TEST(Sequences, ReplaceInitAndFree) {
    auto *seq = static_cast<Sequence *>(mg_malloc(sizeof(Sequence)));
    seq_init(seq);
    EXPECT_EQ(seq->maximum, 0u);
    EXPECT_EQ(seq->buffer, nullptr);
    for (int32_t v : {10, 20, 30})
        seq_add(seq, &v, sizeof v);
    const int32_t replacement = 99;
    auto *old = static_cast<int32_t *>(seq_replace(seq, &replacement, 1, sizeof replacement));
    EXPECT_EQ(*old, 20);
    mg_free(old);
    EXPECT_EQ(static_cast<int32_t *>(seq->buffer)[1], 99);

    const auto beyond = raised_by([&] { seq_replace(seq, &replacement, 3, sizeof replacement); });
    EXPECT_EQ(beyond.number, KORVO_MSG_SEQUENCE_BAD_INDEX);
    EXPECT_EQ(beyond.text,
              "The item was not replaced in the sequence. The index 3 is not within the sequence "
              "length 3.\n");
    EXPECT_EQ(static_cast<int32_t *>(seq->buffer)[2], 30);
    EXPECT_EQ(raised_by([&] { seq_replace(nullptr, &replacement, 0, 4); }).number, 39);

    // No element to copy in: a clean raise, and the sequence is unchanged.
    const auto nothing = raised_by([&] { seq_replace(seq, nullptr, 0, sizeof replacement); });
    EXPECT_EQ(nothing.number, -1);
    EXPECT_EQ(nothing.text, "The item was not replaced in the sequence: the element is NULL.\n");
    EXPECT_EQ(static_cast<int32_t *>(seq->buffer)[0], 10);
    seq_free(seq);  // buffer and header
    seq_free(nullptr);
}

}  // namespace
