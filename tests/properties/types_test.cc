// The library's type codes and repository as the runtime reads them, the
// generated glue, and the documented encodings pinned byte for byte through
// the library's own types.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "properties/errors/korvo_exceptions.h"
#include "properties/korvo_properties.h"
#include "runtime/generic.h"
#include "tests/properties/props_test_util.hpp"

namespace {

using namespace props_test;

TEST(Types, InitRegistersOnceFromEveryThread) {
    static_assert(sizeof(Korvo2_type_repository[0]) == 2 * sizeof(void *));
    std::vector<std::thread> threads;
    std::atomic<int> ones{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { ones += korvo_init() == 1 ? 1 : 0; });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(ones.load(), 4);
    EXPECT_EQ(korvo_init(), 1);

    // The repository table in its documented order, aliases included.
    const TcWord *words = Korvo2_type_repository[0].types;
    std::vector<std::string> names;
    for (; words[0].name[0] != '\0'; words += 2) {
        names.emplace_back(words[0].name);
        EXPECT_EQ(tc_lookup(words[0].name), words[1].type) << words[0].name;
    }
    ASSERT_EQ(names.size(), 33u);
    const std::pair<size_t, const char *> pinned[] = {
        {0, "Property"},           {2, "Properties"},
        {6, "PropertiesListList"}, {7, "ExKorvoException"},
        {8, "ExDepotNoSpace"},     {28, "ExDistributionDeferred"},
        {29, "ExInvalidCall"},     {30, "_sequence_octet_StreamKey"},
        {31, "StreamKey"},         {32, "Repeater"}};
    for (const auto &[at, name] : pinned)
        EXPECT_EQ(names[at], std::string("Vem_Korvo2::") + name) << at;
    EXPECT_EQ(tc_lookup("Vem_Korvo2::PropertiesList"), kPropertiesList);
    EXPECT_EQ(Korvo2_type_repository[0].uses[0].repo, stypes_type_repository);
    EXPECT_EQ(Korvo2_type_repository[0].uses[1].repo, nullptr);
}

TEST(Types, RecordsDescribeTheCLayout) {
    ASSERT_EQ(korvo_init(), 1);
    const TypeCode property = tc_prepare(TC_Vem_Korvo2_Property);
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(property->state, TC_STATE_READY);
    EXPECT_EQ(property->kind, tk_struct);
    EXPECT_EQ(property->size, sizeof(Property));
    EXPECT_EQ(property->marshal, adr_v_Vem_Korvo2_Property);
    EXPECT_EQ(property->member_words, 5u);
    EXPECT_STREQ(property->members[0].name, "Vem_Korvo2::Property");
    EXPECT_STREQ(tc_member_name(property, 1), "value");
    EXPECT_EQ(tc_member_type(property, 0), TC_string);
    EXPECT_EQ(tc_member_offset(property, 1), offsetof(Property, value));

    const struct {
        TypeCode type;
        TypeCode element;
    } sequences[] = {
        {kProperties, TC_Vem_Korvo2_Property},
        {kPropertiesList, kProperties},
        {TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList, kPropertiesList},
        {TC_Vem_Korvo2__sequence_octet_StreamKey, TC_octet},
    };
    for (const auto &s : sequences) {
        ASSERT_EQ(tc_prepare(s.type), s.type) << s.type->name;
        EXPECT_EQ(s.type->kind, tk_sequence);
        EXPECT_EQ(s.type->size, sizeof(Sequence));
        EXPECT_EQ(s.type->marshal, adr_v_dummy);
        EXPECT_EQ(s.type->member_words, 2u);
        EXPECT_EQ(tc_content_type(s.type), s.element);
        EXPECT_EQ(*s.type->members[1].bound, 0u);
    }
    EXPECT_EQ(TC_Vem_Korvo2_Repeater->state, TC_STATE_STATIC);
    EXPECT_EQ(TC_Vem_Korvo2_Repeater->kind, tk_objref);
    EXPECT_EQ(TC_Vem_Korvo2_Repeater->marshal, adr_v_Object);
    EXPECT_STREQ(TC_Vem_Korvo2_Repeater->members[0].name, "Vem_Korvo2::Repeater");
}

TEST(Types, GlueHandsTheTypeToTheRuntime) {
    ASSERT_EQ(korvo_init(), 1);
    List list;
    properties_put_string_dup(&list, "id", "seg1");
    Env env{};

    Property copy = copy_Vem_Korvo2_Property(&list.buffer[0], &env);
    EXPECT_EQ(env.failed, 0);
    EXPECT_NE(copy.key, list.buffer[0].key);
    EXPECT_EQ(equal_Vem_Korvo2_Property(&copy, &list.buffer[0], &env), 1);
    EXPECT_EQ(t_equal_Vem_Korvo2_Property(&env, &copy, &list.buffer[0]), 1);
    vem_free_generic(&copy, TC_Vem_Korvo2_Property);

    Properties target{};
    const Properties returned =
        t_copy_Vem_Korvo2__sequence_Property_Properties(&env, &list, &target);
    EXPECT_EQ(returned.buffer, target.buffer);
    EXPECT_EQ(t_equal_Vem_Korvo2__sequence_Property_Properties(&env, &list, &target), 1);
    properties_put_long_dup(&target, "size", 1);
    EXPECT_EQ(equal_Vem_Korvo2__sequence_Property_Properties(&list, &target, &env), 0);
    properties_delete(&target);

    // The StreamKey glue copies octets deeply.
    const uint8_t key_bytes[] = {'N', 0, 'd', 'i', 's', 't'};
    StreamKey key{6, 6, const_cast<uint8_t *>(key_bytes)};
    StreamKey key_copy = copy_Vem_Korvo2__sequence_octet_StreamKey(&key, &env);
    EXPECT_NE(key_copy.buffer, key.buffer);
    EXPECT_EQ(t_equal_Vem_Korvo2__sequence_octet_StreamKey(&env, &key, &key_copy), 1);
    vem_free_generic(&key_copy, TC_Vem_Korvo2__sequence_octet_StreamKey);
    // A failed copy comes back all zero with the failure in env.
    Property failed = copy_Vem_Korvo2_Property(nullptr, &env);
    EXPECT_EQ(failed.key, nullptr);
    EXPECT_EQ(env.failed, 1);
    env_clear(&env);
}

Properties segment(const char *id, int32_t size) {
    Properties list{};
    properties_put_string_dup(&list, "id", id);
    properties_put_long_dup(&list, "size", size);
    return list;
}

TEST(Types, DocumentedEncodingsHold) {
    ASSERT_EQ(korvo_init(), 1);
    List empty;
    EXPECT_EQ(encode(kProperties, &empty), Bytes({0, 0, 0, 0}));

    List one;
    properties_put_string_dup(&one, "id", "seg1");
    const Bytes one_bytes = encode(kProperties, &one);
    EXPECT_EQ(one_bytes, u32(1) + str("id") + str("string") + str("seg1"));
    EXPECT_EQ(one_bytes.size(), 28u);

    Toc toc;
    for (auto [id, size] : {std::pair{"s1", 1024}, std::pair{"s2", 2048}}) {
        Properties s = segment(id, size);
        seq_add(&toc, &s, sizeof s);
    }
    const Bytes toc_bytes = encode(kPropertiesList, &toc);
    EXPECT_EQ(toc_bytes, u32(2) +                                              //
                             u32(2) + str("id") + str("string") + str("s1") +  //
                             str("size") + str("long") + u32(1024) +           //
                             u32(2) + str("id") + str("string") + str("s2") +  //
                             str("size") + str("long") + u32(2048));
    EXPECT_EQ(toc_bytes.size(), 96u);

    List outer;
    properties_put_properties_dup(&outer, "inner", &one);
    EXPECT_EQ(encode(kProperties, &outer),
              u32(1) + str("inner") + str("Vem_Korvo2::_sequence_Property_Properties") + one_bytes);

    List repeater;
    char *reference = mg_strdup("rpt://gw1");
    auto *cell = static_cast<Any *>(mg_malloc(sizeof(Any)));
    *cell = Any{TC_Vem_Korvo2_Repeater, mg_malloc(sizeof(Repeater))};
    *static_cast<Repeater *>(cell->value) = reference;
    properties_put_any(&repeater, "r", cell);
    EXPECT_EQ(encode(kProperties, &repeater),
              u32(1) + str("r") + str("any") + str("Vem_Korvo2::Repeater") + str("rpt://gw1"));

    // What decodes is what was encoded, nested lists included.
    Toc decoded;
    ASSERT_EQ(props_test::decode(kPropertiesList, toc_bytes, &decoded), ADR_OK);
    EXPECT_EQ(properties_get_long(&decoded.buffer[1], "size"), 2048);
    List nested;
    ASSERT_EQ(props_test::decode(kProperties, encode(kProperties, &outer), &nested), ADR_OK);
    EXPECT_STREQ(properties_get_string(properties_get_properties(&nested, "inner"), "id"), "seg1");
}

}  // namespace
