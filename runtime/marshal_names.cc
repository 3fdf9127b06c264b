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

const AdrTypeCacheSlot *lookup_for_encode(AdrBuffer *b, TypeCode type, int32_t &error) {
    for (const AdrTypeCacheSlot &slot : b->cache)
        if (slot.type == type && slot.verified)
            return &slot;
    TypeCode tc = prepared(type);
    if (tc == nullptr) {
        error = ADR_E_BAD_TYPE;
        return nullptr;
    }
    TypeCode registered = tc->name != nullptr ? registry_find(tc->name) : nullptr;
    if (registered == nullptr || !TypeCode_equal(registered, nullptr, tc)) {
        error = ADR_E_UNKNOWN_TYPE;
        return nullptr;
    }
    const size_t length = std::strlen(tc->name);
    if (length >= kNullLength) {
        error = ADR_E_TOO_LARGE;
        return nullptr;
    }
    remember(b, type, tc->name, static_cast<uint32_t>(length));
    return &b->cache[(b->cache_next - 1) % ADR_TYPE_CACHE_SLOTS];
}

const AdrTypeCacheSlot *resolve_for_encode(AdrBuffer *b, TypeCode type) {
    int32_t error = ADR_OK;
    const AdrTypeCacheSlot *slot = lookup_for_encode(b, type, error);
    if (slot == nullptr)
        fail(b, error);
    return slot;
}

TypeCode lookup_for_decode(AdrBuffer *b, const uint8_t *name, uint32_t length, const char *&stable,
                           int32_t &error) {
    for (const AdrTypeCacheSlot &slot : b->cache)
        if (slot.verified && slot.name_length == length && same_bytes(slot.name, name, length)) {
            stable = slot.name;
            return slot.type;
        }
    TypeCode found =
        registry_find(std::string_view(reinterpret_cast<const char *>(name), length), &stable);
    if (found == nullptr) {
        error = ADR_E_UNKNOWN_TYPE;
        return nullptr;
    }
    if (prepared(found) == nullptr) {
        error = ADR_E_BAD_TYPE;
        return nullptr;
    }
    remember(b, found, stable, length);
    return found;
}

TypeCode resolve_for_decode(AdrBuffer *b, const uint8_t *name, uint32_t length) {
    const char *stable = nullptr;
    int32_t error = ADR_OK;
    TypeCode found = lookup_for_decode(b, name, length, stable, error);
    if (found == nullptr)
        fail(b, error);
    return found;
}

Flat flat_kind(TypeCode tc, uint32_t &bound) {
    bound = 0;
    switch (tc->kind) {
        case tk_string:
        case tk_objref:
            return Flat::kText;
        case tk_long:
        case tk_ulong:
            return Flat::kWord;
        case tk_short:
            return Flat::kHalf;
        case tk_octet:
            return Flat::kOctet;
        case tk_boolean:
            return Flat::kBoolean;
        case tk_sequence: {
            TypeCode element = prepared(element_type(tc));
            if (element == nullptr || element->kind != tk_octet)
                return Flat::kNone;
            bound = sequence_bound(tc);
            return Flat::kOctets;
        }
        default:
            return Flat::kNone;
    }
}

const EncodeMemo::Entry *EncodeMemo::learn(AdrBuffer *b, TypeCode type) {
    int32_t error = ADR_OK;
    const AdrTypeCacheSlot *slot = lookup_for_encode(b, type, error);
    if (slot == nullptr || slot->name_length > kNameRoom - 4)
        return nullptr;
    Entry &entry = entries[next];
    next = (next + 1) % kEntries;
    if (count < kEntries)
        ++count;
    entry.type = type;
    entry.prepared = prepared(type);
    entry.flat = flat_kind(entry.prepared, entry.bound);
    entry.size = 4 + slot->name_length;
    std::memset(entry.encoded, 0, sizeof entry.encoded);
    write_u32(entry.encoded, slot->name_length);
    std::memcpy(entry.encoded + 4, slot->name, slot->name_length);
    return &entry;
}

const DecodeMemo::Entry *DecodeMemo::learn(AdrBuffer *b, const uint8_t *name, uint32_t length) {
    const char *stable = nullptr;
    int32_t error = ADR_OK;
    TypeCode type = lookup_for_decode(b, name, length, stable, error);
    if (type == nullptr)
        return nullptr;
    const uint64_t head = head_of(reinterpret_cast<const uint8_t *>(stable), length, 0);
    Entry &entry = entries[slot(head, length)];
    entry.head = head;
    entry.length = length;
    entry.name = stable;
    entry.type = type;
    entry.flat = flat_kind(prepared(type), entry.bound);
    return &entry;
}

}  // namespace korvo::rt::adr
