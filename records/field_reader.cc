// The table-driven field reader of the segment and message views.
#include "records/field_reader.hpp"

#include <bit>
#include <cstring>

#include "properties/errors/korvo_catalog.h"
#include "runtime/raise.h"

namespace korvo::records {

namespace {

TypeCode type_of(FieldKind kind) {
    switch (kind) {
        case FieldKind::String:
            return TC_string;
        case FieldKind::Object:
            return TC_Object;
        case FieldKind::Any:
            return TC_any;
        case FieldKind::OctetList:
            return TC_Vem_Types_OctetList;
        case FieldKind::Short:
            return TC_short;
        case FieldKind::Long:
            return TC_long;
        case FieldKind::Boolean:
            return TC_boolean;
    }
    return nullptr;
}

[[noreturn]] void raise_for_key(int32_t number, const char *key) {
    vaThrow(Korvo2Catalog[0], number, Korvo2Catalog[number], key);
}

template <typename T>
void store(void *record, uint16_t offset, T value) {
    std::memcpy(static_cast<char *>(record) + offset, &value, sizeof value);
}

// Stores the value a field gets from `cell` (NULL: the key is absent, or its
// property holds no cell), as the typed getters read it.
void store_field(const FieldSpec &field, const void *cell, void *record) {
    switch (field.kind) {
        case FieldKind::String:
        case FieldKind::Object:
            store<const char *>(
                record, field.offset,
                cell != nullptr ? *static_cast<const char *const *>(cell) : nullptr);
            break;
        case FieldKind::Any:
        case FieldKind::OctetList:
            store<const void *>(record, field.offset, cell);
            break;
        case FieldKind::Short:
            store<int16_t>(record, field.offset,
                           cell != nullptr ? *static_cast<const int16_t *>(cell)
                                           : static_cast<int16_t>(field.absent));
            break;
        case FieldKind::Long:
            store<int32_t>(record, field.offset,
                           cell != nullptr ? *static_cast<const int32_t *>(cell) : field.absent);
            break;
        case FieldKind::Boolean:
            store<uint8_t>(record, field.offset,
                           cell != nullptr ? *static_cast<const uint8_t *>(cell)
                                           : static_cast<uint8_t>(field.absent));
            break;
    }
}

// Whether the rest of two keys whose first bytes are equal is equal too;
// keys are short, so this beats a call to strcmp.
bool same_rest(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

FieldTable::FieldTable(std::span<const FieldSpec> fields) : fields_(fields) {
    for (size_t f = 0; f < fields_.size(); ++f)
        starting_with_[static_cast<uint8_t>((*fields_[f].key)[0])] |= uint64_t{1} << f;
}

void FieldTable::read(const Properties *list, void *record) const {
    // One walk of the list: the index of the first property of each key.
    std::array<uint32_t, kMaxFields> first;  // valid where `found` has the bit
    uint64_t found = 0;
    const uint32_t length = list != nullptr && list->buffer != nullptr ? list->length : 0;
    for (uint32_t i = 0; i < length; ++i) {
        const char *key = list->buffer[i].key;
        if (key == nullptr || key[0] == '\0')
            continue;
        uint64_t candidates = starting_with_[static_cast<uint8_t>(key[0])] & ~found;
        while (candidates != 0) {
            const int f = std::countr_zero(candidates);
            candidates &= candidates - 1;
            if (same_rest(*fields_[f].key + 1, key + 1)) {
                first[f] = i;
                found |= uint64_t{1} << f;
            }
        }
    }
    for (size_t f = 0; f < fields_.size(); ++f) {
        const FieldSpec &field = fields_[f];
        if ((found & (uint64_t{1} << f)) == 0) {
            if (field.must_exist)
                raise_for_key(KORVO_MSG_PROPERTY_NOT_FOUND, *field.key);
            store_field(field, nullptr, record);
            continue;
        }
        const Any &value = list->buffer[first[f]].value;
        const TypeCode wanted = type_of(field.kind);
        if (value.type != wanted && !TypeCode_equal(value.type, nullptr, wanted))
            raise_for_key(KORVO_MSG_PROPERTY_WRONG_TYPE, *field.key);
        store_field(field, value.value, record);
    }
}

}  // namespace korvo::records
