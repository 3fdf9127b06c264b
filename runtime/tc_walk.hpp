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

// Whether a ready record has the shape its kind needs (a member table where
// one is needed, the C size of a basic kind).
bool shape_ok(TypeCode tc);

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

// The alignment of a value of the type, as the C compiler aligns it; 0 for a
// malformed or unsupported type.
size_t type_alignment(TypeCode tc, int depth = 0);

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
