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

size_t struct_alignment(TypeCode tc, int depth) {
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
