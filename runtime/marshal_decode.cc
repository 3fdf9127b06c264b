// The runtime's encoding: the decoder. It checks every length against the
// input that remains before it allocates or copies, and builds values in
// zeroed storage so that a failure is undone by a generic free.
#include <algorithm>
#include <cstring>

#include "runtime/generic.h"
#include "runtime/marshal_internal.hpp"
#include "runtime/mg_memory.h"
#include "runtime/tc_walk.hpp"

namespace korvo::rt::adr {

static inline uint32_t remaining(const AdrBuffer *b) {
    return b->length - b->position;
}

static inline uint32_t read_u32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

static inline uint16_t read_u16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

static inline bool get_u32(AdrBuffer *b, uint32_t &v) {
    if (remaining(b) < 4)
        return fail(b, ADR_E_TRUNCATED);
    v = read_u32(b->data + b->position);
    b->position += 4;
    return true;
}

static inline bool get_u16(AdrBuffer *b, uint16_t &v) {
    if (remaining(b) < 2)
        return fail(b, ADR_E_TRUNCATED);
    v = read_u16(b->data + b->position);
    b->position += 2;
    return true;
}

static inline bool get_u8(AdrBuffer *b, uint8_t &v) {
    if (remaining(b) < 1)
        return fail(b, ADR_E_TRUNCATED);
    v = b->data[b->position++];
    return true;
}

// Whether `length` bytes hold a zero byte: eight at a time, inline, as most
// strings are a few dozen bytes and a call to memchr costs more than that.
static inline bool has_zero_byte(const uint8_t *bytes, uint32_t length) {
    constexpr uint64_t kLow = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    for (; length >= 8; length -= 8, bytes += 8) {
        uint64_t word;
        std::memcpy(&word, bytes, 8);
        if (((word - kLow) & ~word & kHigh) != 0)
            return true;
    }
    for (; length > 0; --length)
        if (*bytes++ == 0)
            return true;
    return false;
}

bool decode_string(AdrBuffer *b, char *&out) {
    uint32_t length = 0;
    if (!get_u32(b, length))
        return false;
    if (length == kNullLength) {
        out = nullptr;
        return true;
    }
    if (length > remaining(b))
        return fail(b, ADR_E_BAD_LENGTH);
    const uint8_t *bytes = b->data + b->position;
    if (has_zero_byte(bytes, length))
        return fail(b, ADR_E_BAD_VALUE);
    auto *text = static_cast<char *>(mg_malloc(size_t{length} + 1));
    if (text == nullptr)
        return fail(b, ADR_E_NO_MEMORY);
    std::memcpy(text, bytes, length);
    text[length] = '\0';
    out = text;
    b->position += length;
    return true;
}

// The fewest bytes a value of the type encodes to, at least 1: the decoder
// accepts a count only when the input left can hold that many elements.
static uint32_t min_encoded_size(TypeCode tc, int depth) {
    switch (tc->kind) {
        case tk_short:
            return 2;
        case tk_boolean:
        case tk_octet:
            return 1;
        case tk_struct:
        case tk_except: {
            if (depth > kMaxTypeDepth)
                return 1;
            uint64_t total = 0;
            for (uint32_t i = 0; i < member_count(tc); ++i) {
                TypeCode member = prepared(member_type(tc, i));
                if (member != nullptr)
                    total += min_encoded_size(member, depth + 1);
            }
            return static_cast<uint32_t>(std::clamp<uint64_t>(total, 1, UINT32_MAX));
        }
        default:
            return 4;  // 32-bit numbers, and the length word of the rest
    }
}

bool decode_any(AdrBuffer *b, Any &any) {
    uint32_t length = 0;
    if (!get_u32(b, length))
        return false;
    if (length == kNullLength)
        return true;
    if (length > remaining(b))
        return fail(b, ADR_E_BAD_LENGTH);
    const uint8_t *name = b->data + b->position;
    b->position += length;
    // A type the buffer has resolved is prepared already.
    TypeCode tc = resolve_for_decode(b, name, length);
    if (tc == nullptr || !enter(b))
        return false;
    bool ok = false;
    any.value = mg_calloc(1, tc->size);
    if (any.value == nullptr) {
        fail(b, ADR_E_NO_MEMORY);
    } else {
        any.type = tc;
        ok = decode_value(b, any.value, tc);
    }
    leave(b);
    return ok;
}

static bool decode_sequence(AdrBuffer *b, Sequence &seq, TypeCode tc) {
    TypeCode element = prepared(element_type(tc));
    if (element == nullptr)
        return fail(b, ADR_E_BAD_TYPE);
    uint32_t n = 0;
    if (!get_u32(b, n))
        return false;
    const uint32_t bound = sequence_bound(tc);
    if (bound != 0 && n > bound)
        return fail(b, ADR_E_BOUND);
    // An empty sequence is a nesting level too, as the encoder counts it.
    if (!enter(b))
        return false;
    if (n == 0) {
        leave(b);
        return true;
    }
    // A key and an any encode to two length words at least.
    const bool key_values = is_key_value(element);
    const uint32_t least = key_values ? 8 : min_encoded_size(element, 0);
    if (n > remaining(b) / least) {
        leave(b);
        return fail(b, ADR_E_BAD_LENGTH);
    }
    void *buffer = mg_calloc(n, element->size);
    if (buffer == nullptr) {
        leave(b);
        return fail(b, ADR_E_NO_MEMORY);
    }
    seq = Sequence{n, n, buffer};
    const uint8_t *p = b->data + b->position;
    bool ok = true;
    switch (element->kind) {
        case tk_octet:
            std::memcpy(buffer, p, n);
            b->position += n;
            break;
        case tk_boolean: {
            auto *out = static_cast<uint8_t *>(buffer);
            for (uint32_t i = 0; ok && i < n; ++i) {
                out[i] = p[i];
                if (p[i] > 1)
                    ok = fail(b, ADR_E_BAD_VALUE);
            }
            if (ok)
                b->position += n;
            break;
        }
        case tk_long:
        case tk_ulong: {
            auto *out = static_cast<uint32_t *>(buffer);
            for (uint32_t i = 0; i < n; ++i, p += 4)
                out[i] = read_u32(p);
            b->position += n * 4;
            break;
        }
        case tk_short: {
            auto *out = static_cast<uint16_t *>(buffer);
            for (uint32_t i = 0; i < n; ++i, p += 2)
                out[i] = read_u16(p);
            b->position += n * 2;
            break;
        }
        default: {
            if (key_values) {
                auto *out = static_cast<KeyValue *>(buffer);
                for (uint32_t i = 0; ok && i < n; ++i) {
                    ok = enter(b) && decode_string(b, out[i].key) && decode_any(b, out[i].value);
                    leave(b);
                }
                break;
            }
            auto *out = static_cast<char *>(buffer);
            for (uint32_t i = 0; ok && i < n; ++i)
                ok = decode_value(b, out + size_t{i} * element->size, element);
        }
    }
    leave(b);
    return ok;
}

static bool decode_struct(AdrBuffer *b, void *value, TypeCode tc) {
    if (has_own_marshal(tc))
        return call_own_marshal(b, value, tc);
    if (b->error != ADR_OK || !enter(b))
        return false;
    bool ok = true;
    if (!for_each_member(tc, [&](uint32_t, TypeCode member, size_t offset) {
            ok = decode_value(b, byte_offset(value, offset), member);
            return ok;
        }))
        ok = ok ? fail(b, ADR_E_BAD_TYPE) : false;
    leave(b);
    return ok;
}

bool decode_value(AdrBuffer *b, void *value, TypeCode tc) {
    switch (tc->kind) {
        case tk_short:
            return get_u16(b, *static_cast<uint16_t *>(value));
        case tk_long:
        case tk_ulong:
            return get_u32(b, *static_cast<uint32_t *>(value));
        case tk_boolean: {
            auto &out = *static_cast<uint8_t *>(value);
            if (!get_u8(b, out))
                return false;
            return out <= 1 || fail(b, ADR_E_BAD_VALUE);
        }
        case tk_octet:
            return get_u8(b, *static_cast<uint8_t *>(value));
        case tk_string:
        case tk_objref:
            return decode_string(b, string_at(value));
        case tk_any:
            return decode_any(b, *static_cast<Any *>(value));
        case tk_sequence:
            return decode_sequence(b, sequence_at(value), tc);
        case tk_struct:
        case tk_except:
            return decode_struct(b, value, tc);
        default:
            return fail(b, ADR_E_BAD_TYPE);
    }
}

bool decode_u32(AdrBuffer *b, uint32_t &v) {
    return get_u32(b, v);
}

}  // namespace korvo::rt::adr
