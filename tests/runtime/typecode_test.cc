// Type-code records and repositories: lazy completion, layout agreement with
// the C compiler, structural comparison, and registration rules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "runtime/stypes.h"
#include "runtime/typecode.h"
#include "tests/runtime/sample_types.hpp"

namespace {

std::atomic<int> init_calls{0};

void init_counted(TypeCodeRec *tc) {
    init_calls.fetch_add(1);
    std::this_thread::yield();  // widen the window in which others could enter
    tc->members[1].name = "key";
    tc->members[2].type = TC_string;
    tc->members[0].name = tc->name;
    tc_set_ready(tc);
}

TEST(TypeCode, InitialiserRunsOnceWhenThreadsMeetTheTypeTogether) {
    TcWord members[3] = {{.init = init_counted}};
    TypeCodeRec counted[1] = {
        {"Sample::Counted", TC_STATE_UNFILLED, tk_struct, sizeof(char *), nullptr, 3, members}};
    std::atomic<bool> go{false};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            while (!go.load())
                std::this_thread::yield();
            if (tc_prepare(counted) == counted && tc_member_type(counted, 0) == TC_string)
                ready.fetch_add(1);
        });
    go.store(true);
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(init_calls.load(), 1);
    EXPECT_EQ(ready.load(), 8);
    EXPECT_EQ(counted->state, TC_STATE_READY);
    EXPECT_STREQ(members[0].name, "Sample::Counted");
}

TEST(TypeCode, MemberLayoutAgreesWithTheCompiler) {
    using sample::AllKinds;
    const size_t expected[] = {
        offsetof(AllKinds, s),       offsetof(AllKinds, l),     offsetof(AllKinds, ul),
        offsetof(AllKinds, b),       offsetof(AllKinds, o),     offsetof(AllKinds, text),
        offsetof(AllKinds, object),  offsetof(AllKinds, any),   offsetof(AllKinds, octets),
        offsetof(AllKinds, strings), offsetof(AllKinds, longs), offsetof(AllKinds, inner)};
    ASSERT_EQ(tc_member_count(sample::TC_AllKinds), std::size(expected));
    for (uint32_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(tc_member_offset(sample::TC_AllKinds, i), expected[i]) << i;
    EXPECT_EQ(tc_member_offset(sample::TC_AllKinds, 12), SIZE_MAX);
    EXPECT_STREQ(tc_member_name(sample::TC_AllKinds, 11), "inner");

    const size_t error_offsets[] = {
        offsetof(ErrorRecord, type_name),  offsetof(ErrorRecord, catalog),
        offsetof(ErrorRecord, key),        offsetof(ErrorRecord, default_msg),
        offsetof(ErrorRecord, time_stamp), offsetof(ErrorRecord, msg_context),
        offsetof(ErrorRecord, emsg)};
    ASSERT_EQ(tc_member_count(TC_ExErrorMsg), 7u);
    for (uint32_t i = 0; i < 7; ++i)
        EXPECT_EQ(tc_member_offset(TC_ExErrorMsg, i), error_offsets[i]);
    EXPECT_EQ(tc_member_offset(TC_Vem_Types_XOpenMessageEntry, 3), offsetof(MessageEntry, args));

    // The library's property type, completed on first use.
    EXPECT_EQ(tc_member_offset(sample::TC_Property, 1), offsetof(sample::Property, value));
    EXPECT_EQ(tc_content_type(sample::TC_Properties), sample::TC_Property);
    EXPECT_EQ(tc_content_type(TC_Vem_Types_XOpenMessage), TC_Vem_Types_XOpenMessageEntry);
    EXPECT_EQ(tc_content_type(TC_long), nullptr);
}

TEST(TypeCode, EqualityIsStructural) {
    EXPECT_TRUE(TypeCode_equal(TC_long, nullptr, TC_long));
    EXPECT_FALSE(TypeCode_equal(TC_long, nullptr, TC_ulong));
    EXPECT_FALSE(TypeCode_equal(TC_long, nullptr, nullptr));
    TypeCodeRec another_long[1] = {{"long", TC_STATE_STATIC, tk_long, 4, nullptr, 0, nullptr}};
    EXPECT_TRUE(TypeCode_equal(TC_long, nullptr, another_long));

    // A second record of the same structure, and variations of it.
    TcWord same_members[5] = {{.name = "Vem_Korvo2::Property"},
                              {.name = "key"},
                              {.type = TC_string},
                              {.name = "value"},
                              {.type = TC_any}};
    TypeCodeRec same[1] = {{"Vem_Korvo2::Property", TC_STATE_STATIC, tk_struct,
                            sizeof(sample::Property), nullptr, 5, same_members}};
    EXPECT_TRUE(TypeCode_equal(sample::TC_Property, nullptr, same));
    same_members[4].type = TC_Object;
    EXPECT_FALSE(TypeCode_equal(sample::TC_Property, nullptr, same));
    same_members[4].type = TC_any;
    same_members[3].name = "val";
    EXPECT_FALSE(TypeCode_equal(sample::TC_Property, nullptr, same));
    same_members[3].name = "value";
    same->name = "Vem_Korvo2::Other";
    EXPECT_FALSE(TypeCode_equal(sample::TC_Property, nullptr, same));

    // Sequences are named types too: an octet list is not a stream key.
    TcWord key_members[2] = {{.type = TC_octet}, {.bound = &_any_bound_zero}};
    TypeCodeRec stream_key[1] = {{"Vem_Korvo2::_sequence_octet_StreamKey", TC_STATE_STATIC,
                                  tk_sequence, sizeof(OctetList), adr_v_dummy, 2, key_members}};
    EXPECT_FALSE(TypeCode_equal(TC_Vem_Types_OctetList, nullptr, stream_key));
    // Object references compare by their names.
    EXPECT_FALSE(TypeCode_equal(TC_Object, nullptr, sample::TC_Repeater));
}

TEST(TypeCode, MalformedRecordsAreRefused) {
    TcWord no_init[3] = {};
    TypeCodeRec unfilled[1] = {
        {"Sample::NoInit", TC_STATE_UNFILLED, tk_struct, 8, nullptr, 3, no_init}};
    EXPECT_EQ(tc_prepare(unfilled), nullptr);
    TcWord even[4] = {{.name = "Sample::Even"}, {.name = "a"}, {.type = TC_long}, {.name = "b"}};
    TypeCodeRec even_table[1] = {{"Sample::Even", TC_STATE_STATIC, tk_struct, 8, nullptr, 4, even}};
    EXPECT_EQ(tc_prepare(even_table), nullptr);
    TypeCodeRec wrong_size[1] = {{"long", TC_STATE_STATIC, tk_long, 8, nullptr, 0, nullptr}};
    EXPECT_EQ(tc_prepare(wrong_size), nullptr);
    TypeCodeRec unsupported[1] = {{"float", TC_STATE_STATIC, tk_float, 4, nullptr, 0, nullptr}};
    EXPECT_EQ(tc_prepare(unsupported), nullptr);
    EXPECT_EQ(tc_prepare(nullptr), nullptr);
    EXPECT_EQ(tc_prepare(TC_string), TC_string);
    // A structure whose members do not fit its size (half a pointer, on
    // 32-bit hosts too).
    TcWord big[3] = {{.name = "Sample::Small"}, {.name = "text"}, {.type = TC_string}};
    TypeCodeRec small[1] = {
        {"Sample::Small", TC_STATE_STATIC, tk_struct, sizeof(char *) / 2, nullptr, 3, big}};
    EXPECT_EQ(tc_member_offset(small, 0), SIZE_MAX);
}

TEST(TypeRepository, StandardNamesAreAlwaysKnown) {
    EXPECT_EQ(tc_lookup("string"), TC_string);
    EXPECT_EQ(tc_lookup("long"), TC_long);
    EXPECT_EQ(tc_lookup("Vem_Types::XOpenMessage"), TC_Vem_Types_XOpenMessage);
    EXPECT_EQ(tc_lookup("ExErrorMsg"), TC_ExErrorMsg);
    EXPECT_EQ(tc_lookup("nothing"), nullptr);
    EXPECT_EQ(tc_lookup(nullptr), nullptr);
}

TEST(TypeRepository, RegistrationCompletesRepositoriesAndKeepsAliases) {
    // A repository is two words; the runtime remembers which it completed.
    static_assert(sizeof(TypeRepository) == 2 * sizeof(void *));
    ASSERT_EQ(sample::register_types(), 1);
    EXPECT_STREQ(sample::repository_types[0].name, "Vem_Korvo2::Property");
    EXPECT_EQ(sample::repository_uses[0].repo, stypes_type_repository);
    EXPECT_EQ(tc_lookup("Vem_Korvo2::Property"), sample::TC_Property);
    EXPECT_EQ(tc_lookup("Vem_Korvo2::Properties"), sample::TC_Properties);
    EXPECT_EQ(tc_lookup("Vem_Korvo2::_sequence_Property_Properties"), sample::TC_Properties);
    EXPECT_EQ(sample::register_types(), 1);  // again: nothing changes
}

// Repositories are static data: the registry remembers the ones it took.
TypeCodeRec another_string[1] = {
    {"string", TC_STATE_STATIC, tk_string, sizeof(char *), nullptr, 0, nullptr}};
TcWord conflicting_types[] = {{.name = "Sample::Fresh"},
                              {.type = TC_long},
                              {.name = "string"},
                              {.type = TC_long},
                              {.name = nullptr}};
TypeRepository conflicting[1] = {{conflicting_types, nullptr}};
TcWord agreeing_types[] = {{.name = "string"}, {.type = another_string}, {.name = ""}};
TypeRepository agreeing[1] = {{agreeing_types, nullptr}};

// An initialiser that leaves a name without its code, counting its runs.
int broken_inits = 0;
void init_broken(TypeRepository *repository) {
    ++broken_inits;
    repository->types[0].name = "Sample::Broken";
}
TcWord broken_types[3] = {{.repo_init = init_broken}, {}, {.name = nullptr}};
TypeRepository broken[1] = {{broken_types, nullptr}};

TEST(TypeRepository, ConflictingNamesRegisterNothing) {
    TypeRepository *list[] = {conflicting, nullptr};
    EXPECT_EQ(adr_type_init(list), 0);
    EXPECT_EQ(tc_lookup("Sample::Fresh"), nullptr);
    EXPECT_EQ(tc_lookup("string"), TC_string);

    // An equal type under a known name is no conflict; the list ends at
    // type_repository_null.
    TypeRepository *agreeing_list[] = {agreeing, type_repository_null, conflicting};
    EXPECT_EQ(adr_type_init(agreeing_list), 1);
    EXPECT_EQ(tc_lookup("string"), TC_string);

    // A malformed table registers nothing, and its initialiser never runs
    // twice.
    TypeRepository *broken_list[] = {broken, nullptr};
    EXPECT_EQ(adr_type_init(broken_list), 0);
    EXPECT_EQ(adr_type_init(broken_list), 0);
    EXPECT_EQ(broken_inits, 1);
    EXPECT_EQ(tc_lookup("Sample::Broken"), nullptr);
    EXPECT_EQ(adr_type_init(nullptr), 0);
}

}  // namespace
