// Type-code records: lazy completion of member tables, shape checks, member
// layout and structural comparison.
#include <cstring>
#include <mutex>

#include "runtime/env.h"
#include "runtime/tc_walk.hpp"
#include "runtime/typecode.h"

namespace korvo::rt {
namespace {

// Initialisers run under this lock, so that each runs once even when two
// threads meet an unfilled type together. It is recursive because an
// initialiser may prepare another type.
std::recursive_mutex &init_lock() {
    static std::recursive_mutex lock;
    return lock;
}

size_t basic_size(int32_t kind) {
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

bool names_equal(const char *a, const char *b) {
    if (a == b)
        return true;
    if (a == nullptr || b == nullptr)
        return false;
    return std::strcmp(a, b) == 0;
}

bool types_equal(TypeCode a, TypeCode b, int depth) {
    if (a == b)
        return true;
    if (depth > kMaxTypeDepth)
        return false;
    a = prepared(a);
    b = prepared(b);
    if (a == nullptr || b == nullptr)
        return false;
    if (a->kind != b->kind || a->size != b->size)
        return false;
    switch (a->kind) {
        case tk_objref:
            return names_equal(a->name, b->name);
        case tk_sequence:
            return names_equal(a->name, b->name) && sequence_bound(a) == sequence_bound(b) &&
                   types_equal(element_type(a), element_type(b), depth + 1);
        case tk_struct:
        case tk_except: {
            if (!names_equal(a->name, b->name))
                return false;
            const uint32_t count = member_count(a);
            if (count != member_count(b))
                return false;
            for (uint32_t i = 0; i < count; ++i) {
                if (!names_equal(member_name(a, i), member_name(b, i)))
                    return false;
                if (!types_equal(member_type(a, i), member_type(b, i), depth + 1))
                    return false;
            }
            return true;
        }
        default:
            return true;
    }
}

}  // namespace

bool shape_ok(TypeCode tc) {
    switch (tc->kind) {
        case tk_struct:
        case tk_except:
            // Member types are checked as walks reach them (for_each_member).
            return tc->members != nullptr && tc->member_words % 2 == 1;
        case tk_sequence:
            return tc->size == sizeof(Sequence) && tc->members != nullptr &&
                   tc->member_words >= 1 && element_type(tc) != nullptr;
        default: {
            const size_t size = basic_size(tc->kind);
            return size != 0 && tc->size == size;
        }
    }
}

size_t type_alignment(TypeCode tc, int depth) {
    switch (tc->kind) {
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
        case tk_struct:
        case tk_except: {
            if (depth > kMaxTypeDepth)
                return 0;
            size_t alignment = 1;
            for (uint32_t i = 0; i < member_count(tc); ++i) {
                TypeCode member = prepared(member_type(tc, i));
                if (member == nullptr)
                    return 0;
                const size_t a = type_alignment(member, depth + 1);
                if (a == 0)
                    return 0;
                if (a > alignment)
                    alignment = a;
            }
            return alignment;
        }
        default:
            return 0;
    }
}

}  // namespace korvo::rt

using namespace korvo::rt;

extern "C" {

TypeCode tc_prepare(TypeCode tc) {
    if (tc == nullptr)
        return nullptr;
    if (!tc_is_ready(tc)) {
        std::lock_guard guard(init_lock());
        if (tc->state == TC_STATE_UNFILLED) {
            if (tc->members == nullptr || tc->member_words == 0 || tc->members[0].init == nullptr)
                return nullptr;
            tc->members[0].init(tc);
            tc_set_ready(tc);
        }
    }
    return shape_ok(tc) ? tc : nullptr;
}

void tc_set_ready(TypeCode tc) {
    if (tc != nullptr)
        std::atomic_ref<int32_t>(tc->state).store(TC_STATE_READY, std::memory_order_release);
}

uint32_t tc_member_count(TypeCode tc) {
    tc = prepared(tc);
    return tc != nullptr && is_struct_kind(tc->kind) ? member_count(tc) : 0;
}

const char *tc_member_name(TypeCode tc, uint32_t index) {
    return index < tc_member_count(tc) ? member_name(tc, index) : nullptr;
}

TypeCode tc_member_type(TypeCode tc, uint32_t index) {
    return index < tc_member_count(tc) ? member_type(tc, index) : nullptr;
}

size_t tc_member_offset(TypeCode tc, uint32_t index) {
    if (index >= tc_member_count(tc))
        return SIZE_MAX;
    size_t found = SIZE_MAX;
    for_each_member(tc, [&](uint32_t i, TypeCode, size_t offset) {
        if (i == index)
            found = offset;
        return i < index;
    });
    return found;
}

TypeCode tc_content_type(TypeCode tc) {
    tc = prepared(tc);
    return tc != nullptr && tc->kind == tk_sequence ? element_type(tc) : nullptr;
}

int TypeCode_equal(TypeCode a, Env *, TypeCode b) {
    return types_equal(a, b, 0) ? 1 : 0;
}
}
