// Helpers for the record tests: fields described by key, value kind and
// place in their record, putting values of the right or a wrong type under a
// key, reading a field back, and finding the order in which a view reads its
// keys.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "properties/korvo_properties.h"
#include "tests/properties/props_test_util.hpp"

namespace records_test {

using props_test::List;
using props_test::raised_by;

enum class Kind { String, Object, Any, Octets, Short, Long, Boolean };

// A field of a record: its key, its value kind, its offset in the record
// and its value when the key is absent (numbers only).
struct Field {
    const char *key;
    Kind kind;
    size_t offset;
    int32_t absent = 0;
};

// A value of the field's kind that differs from field to field (seeded by
// `n`), put under its key.
inline void put_valid(Properties *list, const Field &field, int32_t n) {
    const std::string text = std::string(field.key) + "-" + std::to_string(n);
    switch (field.kind) {
        case Kind::String:
            properties_put_string_dup(list, field.key, text.c_str());
            break;
        case Kind::Object:
            properties_put_object_dup(list, field.key, text.c_str());
            break;
        case Kind::Any: {
            Any any{TC_long, &n};
            properties_put_any_dup(list, field.key, &any);
            break;
        }
        case Kind::Octets: {
            uint8_t bytes[] = {uint8_t(n), uint8_t(n + 1)};
            OctetList octets{2, 2, bytes};
            properties_put_OctetList_dup(list, field.key, &octets);
            break;
        }
        case Kind::Short:
            properties_put_short_dup(list, field.key, static_cast<int16_t>(100 + n));
            break;
        case Kind::Long:
            properties_put_long_dup(list, field.key, 100000 + n);
            break;
        case Kind::Boolean:
            // Flip the field's value when the key is absent, so that reading the
            // default instead would show.
            properties_put_boolean_dup(list, field.key, field.absent != 0 ? 0 : 1);
            break;
    }
}

// A value of another type under the field's key.
inline void put_wrong(Properties *list, const Field &field) {
    if (field.kind == Kind::String)
        properties_put_long_dup(list, field.key, 1);
    else
        properties_put_string_dup(list, field.key, "wrong");
}

// Checks the field of `record` against what put_valid(field, n) stored in
// `list` (n < 0: against the value of an absent key). Strings, references,
// anys and octet lists must point into the list, not at copies.
inline void expect_field(const void *record, const Field &field, const Properties *list,
                         int32_t n) {
    SCOPED_TRACE(field.key);
    const auto *at = static_cast<const char *>(record) + field.offset;
    auto pointer = [&] { return *reinterpret_cast<void *const *>(at); };
    switch (field.kind) {
        case Kind::String:
            EXPECT_EQ(pointer(), n < 0 ? nullptr : properties_get_string(list, field.key));
            break;
        case Kind::Object:
            EXPECT_EQ(pointer(), n < 0 ? nullptr : properties_get_object(list, field.key));
            break;
        case Kind::Any:
            EXPECT_EQ(pointer(), n < 0 ? nullptr : properties_get_any(list, field.key));
            break;
        case Kind::Octets:
            EXPECT_EQ(pointer(), n < 0 ? nullptr : properties_get_OctetList(list, field.key));
            break;
        case Kind::Short: {
            int16_t value;
            std::memcpy(&value, at, sizeof value);
            EXPECT_EQ(value, n < 0 ? field.absent : 100 + n);
            break;
        }
        case Kind::Long: {
            int32_t value;
            std::memcpy(&value, at, sizeof value);
            EXPECT_EQ(value, n < 0 ? field.absent : 100000 + n);
            break;
        }
        case Kind::Boolean:
            EXPECT_EQ(*reinterpret_cast<const uint8_t *>(at),
                      n < 0 ? field.absent : (field.absent != 0 ? 0 : 1));
            break;
    }
}

// Puts a value of the wrong type under every key of `fields`, then lets
// `view` read the list again and again, each time putting a right value
// under the key it raised message 37 for, until it succeeds. Returns the
// keys in the order they raised: the order in which the view reads them.
inline std::vector<std::string> reading_order(const std::vector<Field> &fields,
                                              const std::function<void(Properties *)> &view) {
    List list;
    for (const Field &field : fields)
        put_wrong(&list, field);
    std::vector<std::string> order;
    for (size_t round = 0; round <= fields.size(); ++round) {
        const auto raised = raised_by([&] { view(&list); });
        if (raised.number == -1)
            return order;
        EXPECT_EQ(raised.number, 37) << raised.text;
        if (raised.number != 37 || raised.arguments.size() != 1)
            return order;
        order.push_back(raised.arguments[0]);
        for (const Field &field : fields)
            if (order.back() == field.key)
                put_valid(&list, field, 1);
    }
    ADD_FAILURE() << "the view kept raising";
    return order;
}

inline std::vector<std::string> keys_of(const std::vector<Field> &fields) {
    std::vector<std::string> keys;
    for (const Field &field : fields)
        keys.emplace_back(field.key);
    return keys;
}

}  // namespace records_test
