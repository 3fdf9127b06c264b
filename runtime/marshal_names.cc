// The runtime's encoding: the type names of any values, remembered per
// buffer.
#include <cstring>
#include <string_view>

#include "runtime/marshal_internal.hpp"
#include "runtime/registry.hpp"
#include "runtime/tc_walk.hpp"

namespace korvo::rt::adr {
namespace {

void remember(AdrBuffer *b, TypeCode type, const char *name, uint32_t length) {
    AdrTypeCacheSlot &slot = b->cache[b->cache_next++ % ADR_TYPE_CACHE_SLOTS];
    slot = AdrTypeCacheSlot{type, name, length, 1};
}

// Whether two byte ranges of `length` bytes are equal; inline, as type names
// and keys are short and a call to memcmp costs more than comparing them.
inline bool same_bytes(const void *a, const void *b, uint32_t length) {
    const auto *x = static_cast<const uint8_t *>(a);
    const auto *y = static_cast<const uint8_t *>(b);
    for (; length >= 8; length -= 8, x += 8, y += 8) {
        uint64_t u, v;
        std::memcpy(&u, x, 8);
        std::memcpy(&v, y, 8);
        if (u != v)
            return false;
    }
    for (; length > 0; --length)
        if (*x++ != *y++)
            return false;
    return true;
}

}  // namespace

const AdrTypeCacheSlot *resolve_for_encode(AdrBuffer *b, TypeCode type) {
    for (const AdrTypeCacheSlot &slot : b->cache)
        if (slot.type == type && slot.verified)
            return &slot;
    TypeCode tc = prepared(type);
    if (tc == nullptr) {
        fail(b, ADR_E_BAD_TYPE);
        return nullptr;
    }
    TypeCode registered = tc->name != nullptr ? registry_find(tc->name) : nullptr;
    if (registered == nullptr || !TypeCode_equal(registered, nullptr, tc)) {
        fail(b, ADR_E_UNKNOWN_TYPE);
        return nullptr;
    }
    const size_t length = std::strlen(tc->name);
    if (length >= kNullLength) {
        fail(b, ADR_E_TOO_LARGE);
        return nullptr;
    }
    remember(b, type, tc->name, static_cast<uint32_t>(length));
    return &b->cache[(b->cache_next - 1) % ADR_TYPE_CACHE_SLOTS];
}

TypeCode resolve_for_decode(AdrBuffer *b, const uint8_t *name, uint32_t length) {
    for (const AdrTypeCacheSlot &slot : b->cache)
        if (slot.verified && slot.name_length == length && same_bytes(slot.name, name, length))
            return slot.type;
    const char *stable = nullptr;
    TypeCode found =
        registry_find(std::string_view(reinterpret_cast<const char *>(name), length), &stable);
    if (found == nullptr) {
        fail(b, ADR_E_UNKNOWN_TYPE);
        return nullptr;
    }
    if (prepared(found) == nullptr) {
        fail(b, ADR_E_BAD_TYPE);
        return nullptr;
    }
    remember(b, found, stable, length);
    return found;
}

}  // namespace korvo::rt::adr
