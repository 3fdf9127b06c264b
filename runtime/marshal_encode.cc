// The runtime's encoding: the encoder. Integers are big-endian and of fixed
// width; strings, anys and sequences carry a length word (kNullLength for
// NULL) before their bytes; an any carries its type's registered name.
#include <algorithm>
#include <cstring>

#include "runtime/generic.h"
#include "runtime/marshal_internal.hpp"
#include "runtime/mg_memory.h"
#include "runtime/tc_walk.hpp"

namespace korvo::rt::adr {

static constexpr uint32_t kInitialCapacity = 256;

// Grows the encoded bytes geometrically (doubling, at least 256 bytes), so
// that an encoding of n bytes reallocates O(log n) times; out of line, as
// most writes find room.
[[gnu::noinline]] static bool grow(AdrBuffer *b, size_t count) {
    const uint64_t needed = uint64_t{b->length} + count;
    if (needed > UINT32_MAX)
        return fail(b, ADR_E_TOO_LARGE);
    uint64_t capacity = std::max<uint64_t>({needed, uint64_t{b->capacity} * 2, kInitialCapacity});
    capacity = std::min<uint64_t>(capacity, UINT32_MAX);
    void *grown = mg_realloc(b->data, static_cast<size_t>(capacity));
    if (grown == nullptr)
        return fail(b, ADR_E_NO_MEMORY);
    b->data = static_cast<uint8_t *>(grown);
    b->capacity = static_cast<uint32_t>(capacity);
    return true;
}

static inline bool reserve(AdrBuffer *b, size_t count) {
    if (b->capacity - b->length >= count) [[likely]]
        return true;
    return grow(b, count);
}

static inline bool put_u32(AdrBuffer *b, uint32_t v) {
    if (!reserve(b, 4))
        return false;
    write_u32(b->data + b->length, v);
    b->length += 4;
    return true;
}

static bool put_u16(AdrBuffer *b, uint16_t v) {
    if (!reserve(b, 2))
        return false;
    write_u16(b->data + b->length, v);
    b->length += 2;
    return true;
}

static bool put_u8(AdrBuffer *b, uint8_t v) {
    if (!reserve(b, 1))
        return false;
    b->data[b->length++] = v;
    return true;
}

// A length prefix and `length` bytes.
static inline bool put_counted(AdrBuffer *b, const void *bytes, size_t length) {
    if (length >= kNullLength)
        return fail(b, ADR_E_TOO_LARGE);
    if (!reserve(b, 4 + length))
        return false;
    uint8_t *p = write_u32(b->data + b->length, static_cast<uint32_t>(length));
    if (length != 0)
        std::memcpy(p, bytes, length);
    b->length += static_cast<uint32_t>(4 + length);
    return true;
}

bool encode_string(AdrBuffer *b, const char *text) {
    if (text == nullptr)
        return put_u32(b, kNullLength);
    return put_counted(b, text, std::strlen(text));
}

bool encode_any(AdrBuffer *b, const Any &any) {
    if (any.type == nullptr)
        return put_u32(b, kNullLength);
    const AdrTypeCacheSlot *slot = resolve_for_encode(b, any.type);
    if (slot == nullptr)
        return false;
    if (any.value == nullptr)
        return fail(b, ADR_E_NULL_VALUE);
    if (!enter(b))
        return false;
    // The slot holds the prepared type; a nested any may reuse the slot.
    const TypeCode type = slot->type;
    const bool ok =
        put_counted(b, slot->name, slot->name_length) && encode_value(b, any.value, type);
    leave(b);
    return ok;
}

// The encode running on this thread, if any.
constinit thread_local Encoding *active_encoding [[gnu::tls_model("initial-exec")]] = nullptr;

// Room for `count` more bytes, without recording a failure: the general walk
// that runs instead reports it.
static bool try_reserve(AdrBuffer *b, size_t count) {
    if (b->capacity - b->length >= count)
        return true;
    if (uint64_t{b->length} + count > UINT32_MAX)
        return false;
    const int32_t error = b->error;
    const bool grown = grow(b, count);
    b->error = error;
    return grown;
}

// Copies the NUL-terminated `text` to `out`, without its NUL, and returns
// the end of the copy; nullptr when it does not fit before `limit`. The
// length is found while copying, 8 bytes at a time: whole words are stored
// (so `limit` must leave room for a word past the end), and a word is read
// only when it lies within one page, so that a read past the terminator
// never touches a page the text does not reach.
static inline uint8_t *copy_text(uint8_t *out, const uint8_t *limit, const char *text) {
#ifdef KORVO_ADDRESS_SANITIZER
    // The sanitizer refuses reads past the terminator, whatever the page.
    const size_t length = std::strlen(text);
    if (length + 8 > static_cast<size_t>(limit - out))
        return nullptr;
    std::memcpy(out, text, length);
    return out + length;
#else
    constexpr uintptr_t kPage = 4096;
    for (;;) {
        if (limit - out < 8)
            return nullptr;
        if ((reinterpret_cast<uintptr_t>(text) & (kPage - 1)) <= kPage - 8) {
            uint64_t word;
            std::memcpy(&word, text, 8);
            std::memcpy(out, &word, 8);
            if (const uint64_t zeros = zero_bytes(word))
                return out + first_marked_byte(zeros);
            out += 8;
            text += 8;
            continue;
        }
        // The page ends within the next 8 bytes: a byte at a time up to it.
        do {
            if (*text == '\0')
                return out;
            *out++ = static_cast<uint8_t>(*text++);
        } while ((reinterpret_cast<uintptr_t>(text) & (kPage - 1)) != 0);
    }
#endif
}

namespace {

// How much room a pair takes at most, besides its strings and octets.
constexpr size_t kPairRoom = 256;

// Encodes one key/value pair whose value is of a flat kind, straight into
// the buffer: its type name comes encoded from the memo. Anything out of the
// ordinary (a NULL key, an empty any, a type not registered, a value that is
// not flat, strings longer than the room at hand) leaves the buffer as it
// was, for the general walk to write or report.
bool encode_pair(AdrBuffer *b, const KeyValue &pair, EncodeMemo &memo) {
    if (b->depth > ADR_MAX_DEPTH - 3 || pair.key == nullptr || pair.value.type == nullptr ||
        pair.value.value == nullptr)
        return false;
    const EncodeMemo::Entry *type = memo.find(pair.value.type);
    if (type == nullptr && (type = memo.learn(b, pair.value.type)) == nullptr)
        return false;
    if (type->flat == Flat::kNone || !try_reserve(b, kPairRoom))
        return false;
    uint8_t *const start = b->data + b->length;
    const uint8_t *const limit = b->data + b->capacity;
    // The key, leaving room for the name and a fixed-size value.
    uint8_t *p = copy_text(start + 4, limit - EncodeMemo::kNameRoom - 8, pair.key);
    if (p == nullptr)
        return false;
    write_u32(start, static_cast<uint32_t>(p - start - 4));
    std::memcpy(p, type->encoded, EncodeMemo::kNameRoom);
    p += type->size;
    const void *value = pair.value.value;
    switch (type->flat) {
        case Flat::kText: {
            const char *text = string_at(value);
            if (text == nullptr) {
                p = write_u32(p, kNullLength);
                break;
            }
            uint8_t *end = copy_text(p + 4, limit, text);
            if (end == nullptr)
                return false;
            write_u32(p, static_cast<uint32_t>(end - p - 4));
            p = end;
            break;
        }
        case Flat::kWord:
            p = write_u32(p, *static_cast<const uint32_t *>(value));
            break;
        case Flat::kHalf:
            p = write_u16(p, *static_cast<const uint16_t *>(value));
            break;
        case Flat::kOctet:
            *p++ = *static_cast<const uint8_t *>(value);
            break;
        case Flat::kBoolean:
            *p++ = *static_cast<const uint8_t *>(value) != 0 ? 1 : 0;
            break;
        default: {  // Flat::kOctets
            const Sequence &octets = sequence_at(value);
            const uint32_t n = octets.length;
            if ((type->bound != 0 && n > type->bound) || (n != 0 && octets.buffer == nullptr) ||
                n > static_cast<size_t>(limit - p) - 4)
                return false;
            p = write_u32(p, n);
            copy_bytes(p, octets.buffer, n);
            p += n;
        }
    }
    b->length = static_cast<uint32_t>(p - b->data);
    return true;
}

}  // namespace

static bool encode_sequence(AdrBuffer *b, const Sequence &seq, TypeCode tc) {
    TypeCode element = prepared(element_type(tc));
    if (element == nullptr)
        return fail(b, ADR_E_BAD_TYPE);
    const uint32_t bound = sequence_bound(tc);
    if (bound != 0 && seq.length > bound)
        return fail(b, ADR_E_BOUND);
    if (seq.length != 0 && seq.buffer == nullptr)
        return fail(b, ADR_E_NULL_VALUE);
    if (!enter(b))
        return false;
    const uint32_t n = seq.length;
    bool ok = true;
    switch (element->kind) {
        case tk_octet:
            ok = put_counted(b, seq.buffer, n);
            break;
        case tk_boolean:
            if ((ok = reserve(b, 4 + size_t{n}))) {
                uint8_t *p = write_u32(b->data + b->length, n);
                const auto *in = static_cast<const uint8_t *>(seq.buffer);
                for (uint32_t i = 0; i < n; ++i)
                    p[i] = in[i] != 0 ? 1 : 0;
                b->length += 4 + n;
            }
            break;
        case tk_long:
        case tk_ulong:
            if ((ok = reserve(b, 4 + size_t{n} * 4))) {
                uint8_t *p = write_u32(b->data + b->length, n);
                const auto *in = static_cast<const uint32_t *>(seq.buffer);
                for (uint32_t i = 0; i < n; ++i)
                    p = write_u32(p, in[i]);
                b->length += 4 + n * 4;
            }
            break;
        case tk_short:
            if ((ok = reserve(b, 4 + size_t{n} * 2))) {
                uint8_t *p = write_u32(b->data + b->length, n);
                const auto *in = static_cast<const uint16_t *>(seq.buffer);
                for (uint32_t i = 0; i < n; ++i)
                    p = write_u16(p, in[i]);
                b->length += 4 + n * 2;
            }
            break;
        default: {
            ok = put_u32(b, n);
            Encoding local;
            Encoding &encoding = active_encoding != nullptr ? *active_encoding : local;
            if (is_pair_list_element(element, encoding.pairs)) {
                const auto *in = static_cast<const KeyValue *>(seq.buffer);
                EncodeMemo &memo = encoding.memo;
                for (uint32_t i = 0; ok && i < n; ++i) {
                    if (encode_pair(b, in[i], memo))
                        continue;
                    ok = enter(b) && encode_string(b, in[i].key) && encode_any(b, in[i].value);
                    leave(b);
                }
                break;
            }
            const auto *in = static_cast<const char *>(seq.buffer);
            for (uint32_t i = 0; ok && i < n; ++i)
                ok = encode_value(b, in + size_t{i} * element->size, element);
        }
    }
    leave(b);
    return ok;
}

static bool encode_struct(AdrBuffer *b, const void *value, TypeCode tc) {
    if (has_own_marshal(tc))
        return call_own_marshal(b, const_cast<void *>(value), tc);
    if (b->error != ADR_OK || !enter(b))
        return false;
    bool ok = true;
    if (!for_each_member(tc, [&](uint32_t, TypeCode member, size_t offset) {
            ok = encode_value(b, byte_offset(value, offset), member);
            return ok;
        }))
        ok = ok ? fail(b, ADR_E_BAD_TYPE) : false;
    leave(b);
    return ok;
}

bool encode_value(AdrBuffer *b, const void *value, TypeCode tc) {
    switch (tc->kind) {
        case tk_short:
            return put_u16(b, *static_cast<const uint16_t *>(value));
        case tk_long:
        case tk_ulong:
            return put_u32(b, *static_cast<const uint32_t *>(value));
        case tk_boolean:
            return put_u8(b, *static_cast<const uint8_t *>(value) != 0 ? 1 : 0);
        case tk_octet:
            return put_u8(b, *static_cast<const uint8_t *>(value));
        case tk_string:
        case tk_objref:
            return encode_string(b, string_at(value));
        case tk_any:
            return encode_any(b, *static_cast<const Any *>(value));
        case tk_sequence:
            return encode_sequence(b, sequence_at(value), tc);
        case tk_struct:
        case tk_except:
            return encode_struct(b, value, tc);
        default:
            return fail(b, ADR_E_BAD_TYPE);
    }
}

bool encode_u32(AdrBuffer *b, uint32_t v) {
    return put_u32(b, v);
}

bool encode_item(AdrBuffer *b, const void *value, TypeCode tc) {
    if (active_encoding != nullptr)  // a nested encode joins the running one
        return encode_value(b, value, tc);
    Encoding encoding;
    active_encoding = &encoding;
    struct Done {
        ~Done() { active_encoding = nullptr; }
    } done;
    return encode_value(b, value, tc);
}

}  // namespace korvo::rt::adr
