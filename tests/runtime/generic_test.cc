// Deep copy, free and equality over every kind, structure creation, and how
// failures reach the caller's environment record.
#include <gtest/gtest.h>

#include <functional>

#include "runtime/env.h"
#include "runtime/generic.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"
#include "tests/runtime/sample_types.hpp"

namespace {

TEST(Generic, CopiesAreDeepAndEqual) {
    sample::AllKinds original = sample::all_kinds();
    sample::AllKinds copy;
    Env env{};
    ASSERT_EQ(_t_generic_copy(sample::TC_AllKinds, &env, &original, &copy), 1);
    EXPECT_EQ(env.failed, 0);
    EXPECT_EQ(_t_generic_equal(sample::TC_AllKinds, &env, &original, &copy), 1);
    EXPECT_NE(copy.text, original.text);
    EXPECT_NE(copy.any.value, original.any.value);
    EXPECT_NE(copy.strings.buffer, original.strings.buffer);
    EXPECT_NE(copy.strings.buffer[0], original.strings.buffer[0]);
    // The copy lives on alone.
    vem_free_generic(&original, sample::TC_AllKinds);
    EXPECT_EQ(original.text, nullptr);  // freeing zeroes the storage
    EXPECT_STREQ(copy.text, "caf\xc3\xa9 with a % sign");
    auto *block = static_cast<sample::AllKinds *>(_generic_copy(sample::TC_AllKinds, &copy, &env));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(_generic_equal(sample::TC_AllKinds, block, &copy, &env), 1);
    vem_free_generic(block, sample::TC_AllKinds);
    mg_free(block);
    vem_free_generic(&copy, sample::TC_AllKinds);
    vem_free_generic(nullptr, sample::TC_AllKinds);
}

TEST(Generic, EveryMemberTakesPartInEquality) {
    sample::AllKinds a = sample::all_kinds(), b = sample::all_kinds();
    ASSERT_EQ(_t_generic_equal(sample::TC_AllKinds, nullptr, &a, &b), 1);
    const std::vector<std::pair<const char *, std::function<void(sample::AllKinds &)>>> changes = {
        {"short", [](auto &v) { v.s = 3; }},
        {"long", [](auto &v) { v.l = 1; }},
        {"ulong", [](auto &v) { v.ul = 8; }},
        {"boolean", [](auto &v) { v.b = 0; }},
        {"octet", [](auto &v) { v.o = 0; }},
        {"string", [](auto &v) { v.text[0] = 'T'; }},
        {"object", [](auto &v) { v.object[0] = 'R'; }},
        {"any value",
         [](auto &v) { static_cast<sample::Properties *>(v.any.value)->buffer[0].key[0] = 'K'; }},
        {"octets", [](auto &v) { v.octets.buffer[0] = 2; }},
        {"strings", [](auto &v) { v.strings.length = 0; }},
        {"longs", [](auto &v) { v.longs.buffer[0] = 6; }},
        {"nested", [](auto &v) { v.inner.count = 3; }},
    };
    for (const auto &[what, change] : changes) {
        sample::AllKinds c;
        _t_generic_copy(sample::TC_AllKinds, nullptr, &a, &c);
        change(c);
        EXPECT_EQ(_t_generic_equal(sample::TC_AllKinds, nullptr, &a, &c), 0) << what;
        if (what == std::string("strings"))
            c.strings.length = 3;
        vem_free_generic(&c, sample::TC_AllKinds);
    }
    // Truth, not the byte, decides booleans; spare room in a sequence counts
    // for nothing; a NULL string equals only NULL.
    b.b = 2;
    int32_t more = 9;
    seq_add(&b.longs, &more, sizeof more);
    --b.longs.length;
    EXPECT_EQ(_t_generic_equal(sample::TC_AllKinds, nullptr, &a, &b), 1);
    mg_free(b.text);
    b.text = nullptr;
    EXPECT_EQ(_t_generic_equal(sample::TC_AllKinds, nullptr, &a, &b), 0);
    vem_free_generic(&a, sample::TC_AllKinds);
    vem_free_generic(&b, sample::TC_AllKinds);
}

TEST(Generic, AnysCompareByTypeThenValue) {
    int32_t five = 5, also_five = 5;
    uint32_t unsigned_five = 5;
    const Any a{TC_long, &five}, b{TC_long, &also_five}, c{TC_ulong, &unsigned_five};
    const Any empty{nullptr, nullptr}, other_empty{nullptr, nullptr};
    EXPECT_EQ(_t_generic_equal(TC_any, nullptr, &a, &b), 1);
    EXPECT_EQ(_t_generic_equal(TC_any, nullptr, &a, &c), 0);
    EXPECT_EQ(_t_generic_equal(TC_any, nullptr, &a, &empty), 0);
    EXPECT_EQ(_t_generic_equal(TC_any, nullptr, &empty, &other_empty), 1);
}

TEST(Generic, FailuresAreRecordedInTheEnvironment) {
    TypeCodeRec unsupported[1] = {
        {"Sample::Float", TC_STATE_STATIC, tk_float, 4, nullptr, 0, nullptr}};
    float x = 1, y = 2;
    Env env{};
    EXPECT_EQ(_t_generic_copy(unsupported, &env, &x, &y), 0);
    ASSERT_NE(env.failed, 0);
    EXPECT_STREQ(eh_exception_text(env.exception),
                 "The type code Sample::Float is malformed or not supported.\n");
    EXPECT_TRUE(eh_exception_is_a(env.exception, EH_ERROR_CHAIN));
    try {
        ev_to_exception(&env);
        ADD_FAILURE() << "nothing raised";
    } catch (const korvo::rt::Exception &e) {
        EXPECT_EQ(e.number(), -1);
        EXPECT_EQ(e.catalog(), nullptr);
    }
    EXPECT_EQ(env.failed, 0);
    ev_to_exception(&env);  // nothing recorded: returns

    // Copying into an any whose type cannot be walked undoes the copy.
    float f = 3;
    sample::Properties list{};
    sample::add_property(list, "ok", sample::string_any("kept"));
    sample::add_property(list, "bad", Any{unsupported, &f});
    sample::Properties copy;
    EXPECT_EQ(_t_generic_copy(sample::TC_Properties, &env, &list, &copy), 0);
    EXPECT_EQ(copy.buffer, nullptr);
    EXPECT_EQ(copy.length, 0u);
    env_clear(&env);
    EXPECT_EQ(env.exception, nullptr);
    list.buffer[1].value = Any{nullptr, nullptr};
    vem_free_generic(&list, sample::TC_Properties);
    EXPECT_EQ(_t_generic_equal(unsupported, &env, &x, &y), 0);
    EXPECT_NE(env.failed, 0);
    env_clear(&env);
    EXPECT_EQ(_generic_copy(nullptr, &x, &env), nullptr);
    env_clear(&env);
}

TEST(Generic, CreateDeepCopiesTheGivenMembers) {
    const char *chain = EH_ERROR_CHAIN;
    const char *catalog = "Cat";
    const int32_t key = 12;
    auto *record =
        static_cast<ErrorRecord *>(generic_create(TC_ExErrorMsg, &chain, &catalog, &key, nullptr));
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->type_name, EH_ERROR_CHAIN);
    EXPECT_NE(record->type_name, chain);
    EXPECT_STREQ(record->catalog, "Cat");
    EXPECT_EQ(record->key, 12);
    EXPECT_EQ(record->default_msg, nullptr);
    EXPECT_EQ(record->emsg.length, 0u);
    vem_free_generic(record, TC_ExErrorMsg);
    mg_free(record);
    const int32_t n = 1;
    EXPECT_EQ(generic_create(TC_long, &n, nullptr), nullptr);
}

}  // namespace
