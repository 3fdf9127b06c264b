// The runtime's encoding: the decoder. It checks every length against the
// input that remains before it allocates or copies, and builds values in
// zeroed storage so that a failure is undone by a generic free.
#include <algorithm>
#include <cstring>

#include "runtime/generic.h"
#include "runtime/marshal_internal.hpp"
#include "runtime/mg_memory.h"
#include "runtime/mg_pool.hpp"
#include "runtime/tc_walk.hpp"

namespace korvo::rt::adr {

// The decode running on this thread, if any: the blocks of a decoded value
// are cut one after another from its carver's slabs. They are mg_ blocks
// like any other, each freed alone.
constinit thread_local Decoding *active_decoding [[gnu::tls_model("initial-exec")]] = nullptr;

static inline void *new_block(size_t size) {
    Decoding *decoding = active_decoding;
    return decoding != nullptr ? decoding->carver.allocate(size) : mg_malloc(size);
}

static inline void *new_zeroed_block(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size)
        return nullptr;
    void *block = new_block(count * size);
    if (block != nullptr)
        std::memset(block, 0, count * size);
    return block;
}

static inline uint32_t remaining(const AdrBuffer *b) {
    return b->length - b->position;
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
    auto *text = static_cast<char *>(new_block(size_t{length} + 1));
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
    any.value = new_zeroed_block(1, tc->size);
    if (any.value == nullptr) {
        fail(b, ADR_E_NO_MEMORY);
    } else {
        any.type = tc;
        ok = decode_value(b, any.value, tc);
    }
    leave(b);
    return ok;
}

// Copies `length` bytes and tells whether any of them is 0. The input holds
// `available` bytes from `from` on, and `to` has room for at least 8 bytes
// (decoded strings are blocks of a size class or carved, 8 bytes at least),
// so that the copy moves whole words: the last word of a text overlaps the
// one before it, and a text shorter than a word is read as a word from the
// input and stored as one.
static inline bool copy_checking(char *to, const uint8_t *from, uint32_t length, size_t available) {
    uint64_t word;
    if (length >= 8) {
        uint64_t zeros = 0;
        for (uint32_t i = 0; i < length - 8; i += 8) {
            std::memcpy(&word, from + i, 8);
            zeros |= zero_bytes(word);
            std::memcpy(to + i, &word, 8);
        }
        std::memcpy(&word, from + length - 8, 8);
        std::memcpy(to + length - 8, &word, 8);
        return (zeros | zero_bytes(word)) != 0;
    }
#ifndef KORVO_ADDRESS_SANITIZER  // whose blocks are exactly as large as asked
    if (available >= 8) {
        std::memcpy(&word, from, 8);
        std::memcpy(to, &word, 8);
        const uint64_t marks = zero_bytes(word);
        return marks != 0 && first_marked_byte(marks) < length;
    }
#endif
    static_cast<void>(available);
    bool zero = false;
    for (uint32_t i = 0; i < length; ++i) {
        zero |= from[i] == 0;
        to[i] = static_cast<char>(from[i]);
    }
    return zero;
}

namespace {

// Decodes one key/value pair at `p` whose value is of a flat kind, reading
// the input in place: every length is checked before anything is allocated.
// Returns where the pair ends; nullptr leaves the pair to the general walk,
// which starts over at the same place and reports what is out of the
// ordinary (a NULL key, a type not registered, a value that is not flat, a
// truncated input, a failure) as usual.
const uint8_t *decode_pair(AdrBuffer *b, const uint8_t *p, const uint8_t *end, KeyValue &out,
                           uint32_t place, DecodeMemo &memo, pool::Carver::Cursor &cursor) {
    if (end - p < 8)
        return nullptr;
    const uint32_t key_length = read_u32(p);
    if (key_length > static_cast<size_t>(end - p) - 8)  // also the NULL key
        return nullptr;
    const uint8_t *key = p + 4;
    p = key + key_length;
    const uint32_t name_length = read_u32(p);
    if (name_length > static_cast<size_t>(end - p) - 4)  // also the empty any
        return nullptr;
    const uint8_t *name = p + 4;
    p = name + name_length;
    const DecodeMemo::Entry *type =
        memo.find(place, name, name_length, static_cast<size_t>(end - name));
    if (type == nullptr && (type = memo.learn(b, name, name_length)) == nullptr)
        return nullptr;

    // The value's bytes in the input, and the block a string or an octet
    // list needs (a string's bytes and its NUL).
    const size_t left = static_cast<size_t>(end - p);
    uint32_t count = 0;
    size_t size = 0;
    size_t bytes_size = 0;
    switch (type->flat) {
        case Flat::kText:
            if (left < 4)
                return nullptr;
            count = read_u32(p);
            if (count == kNullLength) {
                size = 4;
                break;
            }
            if (count > left - 4)
                return nullptr;
            size = 4 + size_t{count};
            bytes_size = size_t{count} + 1;
            break;
        case Flat::kOctets:
            if (left < 4)
                return nullptr;
            count = read_u32(p);
            if (count > left - 4 || (type->bound != 0 && count > type->bound))
                return nullptr;
            size = 4 + size_t{count};
            bytes_size = count;
            break;
        case Flat::kWord:
            size = 4;
            break;
        case Flat::kHalf:
            size = 2;
            break;
        case Flat::kBoolean:
            if (left >= 1 && *p > 1)
                return nullptr;
            size = 1;
            break;
        case Flat::kOctet:
            size = 1;
            break;
        default:
            return nullptr;
    }
    if (left < size)
        return nullptr;

    // The key, the value cell (filled whole below) and the bytes: carved
    // together when they can be.
    TypeCode tc = type->type;
    void *key_block = nullptr, *cell = nullptr, *bytes = nullptr;
    if (!pool::Carver::allocate_three(cursor, size_t{key_length} + 1, tc->size, bytes_size,
                                      key_block, cell, bytes)) {
        Decoding *decoding = active_decoding;
        if (decoding != nullptr)
            decoding->carver.resume(cursor);
        key_block = new_block(size_t{key_length} + 1);
        cell = new_block(tc->size);
        if (bytes_size != 0)
            bytes = new_block(bytes_size);
        if (decoding != nullptr)
            cursor = decoding->carver.cursor();
    }
    auto *key_copy = static_cast<char *>(key_block);
    bool ok = key_copy != nullptr && cell != nullptr && (bytes != nullptr || bytes_size == 0);
    if (ok) {
        ok = !copy_checking(key_copy, key, key_length, static_cast<size_t>(end - key));
        key_copy[key_length] = '\0';
    }
    if (ok && type->flat == Flat::kText && bytes != nullptr) {
        ok = !copy_checking(static_cast<char *>(bytes), p + 4, count, left - 4);
        static_cast<char *>(bytes)[count] = '\0';
    }
    if (!ok) {
        mg_free(key_copy);
        mg_free(cell);
        mg_free(bytes);
        return nullptr;
    }
    switch (type->flat) {
        case Flat::kText:
            string_at(cell) = static_cast<char *>(bytes);
            break;
        case Flat::kOctets:
            copy_bytes(bytes, p + 4, count);
            sequence_at(cell) =
                count != 0 ? Sequence{count, count, bytes} : Sequence{0, 0, nullptr};
            break;
        case Flat::kWord:
            *static_cast<uint32_t *>(cell) = read_u32(p);
            break;
        case Flat::kHalf:
            *static_cast<uint16_t *>(cell) = read_u16(p);
            break;
        default:
            *static_cast<uint8_t *>(cell) = *p;
            break;
    }
    out.key = key_copy;
    out.value = Any{tc, cell};
    return p + size;
}

// The pairs of a list, each flat when it can be, into an array that is not
// zeroed yet: each pair is written whole, or zeroed before the general walk
// fills it, and when that fails the pairs not reached are zeroed, so that a
// generic free can undo the list. The running decode's carver is cut from
// through a local cursor, put back around everything else that may cut
// from it.
bool decode_pairs(AdrBuffer *b, KeyValue *out, uint32_t n, DecodeMemo &memo) {
    pool::Carver *carver = active_decoding != nullptr ? &active_decoding->carver : nullptr;
    pool::Carver::Cursor cursor = carver != nullptr ? carver->cursor() : pool::Carver::Cursor{};
    // The pair, its any and an octet list nest 3 deep.
    const bool flat = b->depth <= ADR_MAX_DEPTH - 3;
    const uint8_t *const end = b->data + b->length;
    const uint8_t *at = b->data + b->position;  // the buffer's position, while flat
    bool ok = true;
    for (uint32_t i = 0; ok && i < n; ++i) {
        if (flat) {
            const uint8_t *next = decode_pair(b, at, end, out[i], i, memo, cursor);
            if (next != nullptr) {
                at = next;
                continue;
            }
        }
        b->position = static_cast<uint32_t>(at - b->data);
        if (carver != nullptr)
            carver->resume(cursor);
        out[i] = KeyValue{};
        ok = enter(b) && decode_string(b, out[i].key) && decode_any(b, out[i].value);
        leave(b);
        if (!ok)
            std::memset(static_cast<void *>(out + i + 1), 0, sizeof(KeyValue) * (n - i - 1));
        if (carver != nullptr)
            cursor = carver->cursor();
        at = b->data + b->position;
    }
    if (ok)
        b->position = static_cast<uint32_t>(at - b->data);
    if (carver != nullptr)
        carver->resume(cursor);
    return ok;
}

}  // namespace

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
    Decoding *decoding = active_decoding;
    TypeCode unknown = nullptr;
    const bool key_values =
        is_pair_list_element(element, decoding != nullptr ? decoding->pairs : unknown);
    const uint32_t least = key_values ? 8 : min_encoded_size(element, 0);
    if (uint64_t{n} * least > remaining(b)) {
        leave(b);
        return fail(b, ADR_E_BAD_LENGTH);
    }
    // An array of pairs is filled whole by decode_pairs; others start zeroed.
    void *buffer =
        key_values ? new_block(size_t{n} * element->size) : new_zeroed_block(n, element->size);
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
                if (decoding != nullptr) {
                    ok = decode_pairs(b, out, n, decoding->memo);
                } else {
                    DecodeMemo memo;
                    ok = decode_pairs(b, out, n, memo);
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

bool decode_item(AdrBuffer *b, void *value, TypeCode tc) {
    if (active_decoding != nullptr)  // a nested decode joins the running one
        return decode_value(b, value, tc);
    // The decoded blocks take a few times the bytes they come from.
    Decoding decoding(size_t{b->length - b->position} * 3);
    active_decoding = &decoding;
    struct Done {
        ~Done() { active_decoding = nullptr; }
    } done;
    return decode_value(b, value, tc);
}

}  // namespace korvo::rt::adr
