// Reading a record's fields from a property list by a table: each field
// names its key symbol, its value kind, where it lives in the record, whether
// its key must exist and what an absent key gives. The list is walked once
// to find the first property of every key; then the fields are filled in
// table order, so that when several keys are faulty the first in the table
// raises, exactly as one getter call per field in that order would.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "properties/korvo_types.h"

namespace korvo::records {

enum class FieldKind : uint8_t {
    String,     // char *, the string in the cell
    Object,     // ObjectRef, the reference in the cell
    Any,        // Any *, the cell itself
    OctetList,  // OctetList *, the cell itself
    Short,      // int16_t
    Long,       // int32_t
    Boolean,    // uint8_t
};

struct FieldSpec {
    const char *const *key;  // the key's exported symbol
    FieldKind kind;
    bool must_exist;  // absent: message 36 with the key
    uint16_t offset;  // of the field in the record
    int32_t absent;   // a number field's value when its key is absent
};

// A table of fields with an index of their keys by first byte, so that the
// walk of a list compares each property's key with the few keys that can
// match instead of all of them. Build one per record type, once (its keys
// are read from the exported key symbols).
class FieldTable {
  public:
    static constexpr size_t kMaxFields = 64;

    template <size_t N>
    explicit FieldTable(const FieldSpec (&fields)[N])
        : FieldTable(std::span<const FieldSpec>(fields)) {
        static_assert(N <= kMaxFields, "a field table holds at most 64 fields");
    }

    // Fills the fields of `record` from `list` in table order. An absent key
    // gives the field's `absent` value (NULL for pointers) or, when it must
    // exist, raises catalog message 36 with the key; a property of another
    // type raises message 37 with the key. The list is not changed; on a
    // raise the record holds the fields read so far.
    void read(const Properties *list, void *record) const;

  private:
    explicit FieldTable(std::span<const FieldSpec> fields);

    std::span<const FieldSpec> fields_;
    std::array<uint64_t, 256> starting_with_{};  // bit f: field f's key begins with the byte
};

}  // namespace korvo::records
