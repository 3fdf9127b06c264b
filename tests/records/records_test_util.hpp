// Checking a record view against its table of fields: each field's key
// (the field's own name), value kind, offset and value when the key is
// absent. The checks put values of the right or a wrong type under the keys
// and read the fields back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/generic.h"
#include "tests/properties/props_test_util.hpp"

namespace records_test {

using props_test::List;
using props_test::raised_by;

enum class Kind { String, Object, Any, Octets, Short, Long, Boolean };

struct Field {
    const char *key;
    Kind kind;
    size_t offset;
    int32_t absent = 0;  // numbers; absent pointers are NULL
};

// A record view under test: it reads a list and releases what it made.
using View = std::function<void *(Properties *)>;
using Release = std::function<void(void *)>;

inline TypeCode type_of(Kind kind) {
    const TypeCode types[] = {TC_string, TC_Object, TC_any,    TC_Vem_Types_OctetList,
                              TC_short,  TC_long,   TC_boolean};
    return types[static_cast<int>(kind)];
}

// Puts a value that no absent key gives (numbers 100 + n, the other boolean)
// or, with `wrong`, a value of another type.
inline void put(Properties *list, const Field &f, int16_t n, bool wrong = false) {
    const std::string text = std::string(f.key) + "-" + std::to_string(n);
    const char *string = text.c_str();
    int32_t number = 100 + n;
    int16_t small = static_cast<int16_t>(number);
    uint8_t flag = f.absent == 0 ? 1 : 0, bytes[] = {1, 2};
    OctetList octets{2, 2, bytes};
    Any any{TC_long, &number};
    const void *values[] = {&string, &string, &any, &octets, &small, &number, &flag};
    const Kind kind = !wrong ? f.kind : f.kind == Kind::String ? Kind::Long : Kind::String;
    const TypeCode type = type_of(kind);
    properties_put(list, f.key, type, _generic_copy(type, values[int(kind)], nullptr));
}

// Checks a field against what put(list, f, n) stored, or with n < 0 against
// the value of an absent key. Pointer fields must point into the list.
inline void expect_field(const void *record, const Field &f, const Properties *list, int n) {
    SCOPED_TRACE(f.key);
    const char *at = static_cast<const char *>(record) + f.offset;
    if (f.kind <= Kind::Octets) {
        void *cell = n < 0 ? nullptr : properties_get(list, f.key, type_of(f.kind), 1);
        if (cell != nullptr && f.kind <= Kind::Object)
            cell = *static_cast<char **>(cell);
        EXPECT_EQ(*reinterpret_cast<void *const *>(at), cell);
        return;
    }
    int32_t value = *reinterpret_cast<const uint8_t *>(at);
    if (f.kind == Kind::Short)
        value = *reinterpret_cast<const int16_t *>(at);
    if (f.kind == Kind::Long)
        std::memcpy(&value, at, sizeof value);
    EXPECT_EQ(value, n < 0 ? f.absent : f.kind == Kind::Boolean ? f.absent == 0 : 100 + n);
}

// Every field read from its key; with only the `required` keys, every other
// field holds its absent value.
inline void expect_fields(const std::vector<Field> &fields, const std::vector<size_t> &required,
                          const View &view, const Release &release) {
    List full, minimal;
    for (size_t i = 0; i < fields.size(); ++i)
        put(&full, fields[i], static_cast<int16_t>(i));
    for (size_t i : required)
        put(&minimal, fields[i], static_cast<int16_t>(i));
    for (List *list : {&full, &minimal}) {
        void *record = view(list);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(*static_cast<Properties **>(record), list);  // the first field: borrowed
        for (size_t i = 0; i < fields.size(); ++i) {
            const bool held = list == &full || std::count(required.begin(), required.end(), i);
            expect_field(record, fields[i], list, held ? static_cast<int>(i) : -1);
        }
        release(record);
    }
}

// Leaves the `required` keys out and puts a value of a wrong type under
// every other key, then lets the view read the list again and again, each
// time righting the key it raised for. The keys must raise in table order
// (the reading order): 36 for a required key, 37 for the others.
inline void expect_reading_order(const std::vector<Field> &fields,
                                 const std::vector<size_t> &required, const View &view,
                                 const Release &release) {
    List list;
    std::vector<std::string> order, expected;
    for (size_t i = 0; i < fields.size(); ++i) {
        const bool must = std::count(required.begin(), required.end(), i) != 0;
        if (!must)
            put(&list, fields[i], 0, true);
        expected.push_back((must ? "36 " : "37 ") + std::string(fields[i].key));
    }
    for (size_t round = 0; round < fields.size(); ++round) {
        const auto raised = raised_by([&] { release(view(&list)); });
        if (raised.number == -1)
            break;
        order.push_back(std::to_string(raised.number) + " " + raised.arguments.at(0));
        for (const Field &f : fields)
            if (raised.arguments.at(0) == f.key)
                put(&list, f, 0);
    }
    EXPECT_EQ(order, expected);
    EXPECT_EQ(raised_by([&] { release(view(&list)); }).number, -1);
}

}  // namespace records_test
