// Helpers for walking type codes, shared by the generic operations and the
// marshaller. Every function here expects a prepared type code (tc_prepare).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "runtime/stypes.h"
#include "runtime/typecode.h"

namespace korvo::rt {

// How deeply type codes may nest inside one another when a walk follows
// them without a value (alignment, comparison, minimal sizes).
constexpr int kMaxTypeDepth = 64;

inline bool is_struct_kind(int32_t kind) {
    return kind == tk_struct || kind == tk_except;
}

// The fast path of tc_prepare: a record whose table is complete.
inline bool tc_is_ready(TypeCode tc) {
    return std::atomic_ref<int32_t>(tc->state).load(std::memory_order_acquire) != TC_STATE_UNFILLED;
}

// The C size of a value of a basic kind (or of a sequence header); 0 for
// structures and for kinds the runtime does not handle.
inline size_t basic_size(int32_t kind) {
    switch (kind) {
        case tk_short:
            return sizeof(int16_t);
        case tk_long:
        case tk_ulong:
            return sizeof(int32_t);
        case tk_boolean:
        case tk_octet:
            return sizeof(uint8_t);
        case tk_string:
        case tk_objref:
            return sizeof(char *);
        case tk_any:
            return sizeof(Any);
        case tk_sequence:
            return sizeof(Sequence);
        default:
            return 0;
    }
}

// Whether a ready record has the shape its kind needs (a member table where
// one is needed, the C size of a basic kind). Inline: every walk asks it of
// every type it meets.
inline bool shape_ok(TypeCode tc) {
    switch (tc->kind) {
        case tk_struct:
        case tk_except:
            // Member types are checked as walks reach them (for_each_member).
            return tc->members != nullptr && tc->member_words % 2 == 1;
        case tk_sequence:
            return tc->size == sizeof(Sequence) && tc->members != nullptr &&
                   tc->member_words >= 1 && tc->members[0].type != nullptr;
        default: {
            const size_t size = basic_size(tc->kind);
            return size != 0 && tc->size == size;
        }
    }
}

// tc_prepare without the call when the record is ready already. NULL when
// `tc` is NULL or malformed.
inline TypeCode prepared(TypeCode tc) {
    if (tc == nullptr)
        return nullptr;
    if (!tc_is_ready(tc))
        return tc_prepare(tc);
    return shape_ok(tc) ? tc : nullptr;
}

inline uint32_t member_count(TypeCode tc) {
    return tc->member_words >= 1 ? (tc->member_words - 1) / 2 : 0;
}
inline const char *member_name(TypeCode tc, uint32_t i) {
    return tc->members[1 + 2 * i].name;
}
inline TypeCode member_type(TypeCode tc, uint32_t i) {
    return tc->members[2 + 2 * i].type;
}

inline TypeCode element_type(TypeCode seq) {
    return seq->members[0].type;
}
inline uint32_t sequence_bound(TypeCode seq) {
    if (seq->member_words < 2 || seq->members[1].bound == nullptr)
        return 0;
    return *seq->members[1].bound;
}

inline size_t align_up(size_t offset, size_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

// The alignment of a structure: that of its most aligned member; 0 when a
// member is malformed or unsupported.
size_t struct_alignment(TypeCode tc, int depth);

// The alignment of a value of the type, as the C compiler aligns it; 0 for a
// malformed or unsupported type.
inline size_t type_alignment(TypeCode tc, int depth = 0) {
    switch (tc->kind) {
        case tk_struct:
        case tk_except:
            return struct_alignment(tc, depth);
        case tk_short:
            return alignof(int16_t);
        case tk_long:
        case tk_ulong:
            return alignof(int32_t);
        case tk_boolean:
        case tk_octet:
            return 1;
        case tk_string:
        case tk_objref:
            return alignof(char *);
        case tk_any:
            return alignof(Any);
        case tk_sequence:
            return alignof(Sequence);
        default:
            return 0;
    }
}

// Calls fn(index, member type, offset) for each member of a structure, in
// order; stops and returns false when fn returns false or a member type is
// unusable.
template <typename Fn>
bool for_each_member(TypeCode tc, Fn &&fn) {
    size_t offset = 0;
    const uint32_t count = member_count(tc);
    for (uint32_t i = 0; i < count; ++i) {
        TypeCode member = prepared(member_type(tc, i));
        if (member == nullptr)
            return false;
        const size_t alignment = type_alignment(member);
        if (alignment == 0)
            return false;
        offset = align_up(offset, alignment);
        if (offset + member->size > tc->size)
            return false;
        if (!fn(i, member, offset))
            return false;
        offset += member->size;
    }
    return true;
}

// A structure of a string then an any, laid out as {char *key; Any value}:
// the shape of a property, which lists hold by the thousand. Walks over
// sequences of them handle both members directly instead of walking the
// member table for every element.
struct KeyValue {
    char *key;
    Any value;
};

inline bool is_key_value_shape(TypeCode tc) {
    if (!is_struct_kind(tc->kind) || member_count(tc) != 2 || tc->size != sizeof(KeyValue))
        return false;
    TypeCode key = prepared(member_type(tc, 0));
    TypeCode value = prepared(member_type(tc, 1));
    return key != nullptr && key->kind == tk_string && value != nullptr && value->kind == tk_any;
}

// Value cells of the basic kinds.
inline char *&string_at(void *p) {
    return *static_cast<char **>(p);
}
inline const char *string_at(const void *p) {
    return *static_cast<char *const *>(p);
}
inline Sequence &sequence_at(void *p) {
    return *static_cast<Sequence *>(p);
}
inline const Sequence &sequence_at(const void *p) {
    return *static_cast<const Sequence *>(p);
}
inline void *byte_offset(void *p, size_t offset) {
    return static_cast<char *>(p) + offset;
}
inline const void *byte_offset(const void *p, size_t offset) {
    return static_cast<const char *>(p) + offset;
}

}  // namespace korvo::rt
