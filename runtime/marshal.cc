// The runtime's encoding: encoders and decoders for every kind, the buffer
// life cycle and the adr_v_* building blocks. Decoding checks every length
// against the input that remains before it allocates or copies, and builds
// values in zeroed storage so that a failure is undone by a generic free.
#include "runtime/marshal.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string_view>

#include "runtime/generic.h"
#include "runtime/mg_memory.h"
#include "runtime/registry.hpp"
#include "runtime/tc_walk.hpp"

namespace korvo::rt {
namespace {

constexpr uint32_t kNullLength = 0xFFFFFFFFu;
constexpr uint32_t kInitialCapacity = 256;

[[gnu::cold]] bool fail(AdrBuffer *b, int32_t code) {
    if (b->error == ADR_OK)
        b->error = code;
    return false;
}

inline bool enter(AdrBuffer *b) {
    if (b->depth >= ADR_MAX_DEPTH)
        return fail(b, ADR_E_TOO_DEEP);
    ++b->depth;
    return true;
}

inline void leave(AdrBuffer *b) {
    if (b->depth > 0)
        --b->depth;
}

// Own marshal functions declared to do what the member walk does
// (adr_declare_member_walk). Readers scan without a lock: entries are
// published before the count that covers them.
constexpr int kMaxMemberWalkers = 16;
std::atomic<AdrMarshalFn> member_walkers[kMaxMemberWalkers];
std::atomic<int> member_walker_count{0};

bool walks_members(AdrMarshalFn fn) {
    const int count = member_walker_count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i)
        if (member_walkers[i].load(std::memory_order_relaxed) == fn)
            return true;
    return false;
}

bool has_own_marshal(TypeCode tc) {
    return tc->marshal != nullptr && tc->marshal != adr_v_dummy && !walks_members(tc->marshal);
}

// A walked structure of the property shape (tc_walk.hpp): sequences of
// them are marshalled member by member without the general walk.
bool is_key_value(TypeCode tc) {
    return is_key_value_shape(tc) && !has_own_marshal(tc);
}

// A type's own marshal function; one that fails without saying why is
// reported as a bad value.
bool call_own_marshal(AdrBuffer *b, void *value, TypeCode tc) {
    if (tc->marshal(b, value) != 0 && b->error == ADR_OK)
        return true;
    return fail(b, ADR_E_BAD_VALUE);
}

// ---- type names, remembered per buffer ----------------------------------

void remember(AdrBuffer *b, TypeCode type, const char *name, uint32_t length) {
    AdrTypeCacheSlot &slot = b->cache[b->cache_next++ % ADR_TYPE_CACHE_SLOTS];
    slot = AdrTypeCacheSlot{type, name, length, 1};
}

// The prepared code of an any's type for encoding, with its name in *slot:
// its name must be registered for an equal type, or the bytes could not be
// decoded again.
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

// ---- encoding -------------------------------------------------------------

// Grows the encoded bytes geometrically (doubling, at least 256 bytes), so
// that an encoding of n bytes reallocates O(log n) times; out of line, as
// most writes find room.
[[gnu::noinline]] bool grow(AdrBuffer *b, size_t count) {
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

inline bool reserve(AdrBuffer *b, size_t count) {
    if (b->capacity - b->length >= count) [[likely]]
        return true;
    return grow(b, count);
}

inline uint8_t *write_u32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
    return p + 4;
}

inline uint8_t *write_u16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
    return p + 2;
}

inline bool put_u32(AdrBuffer *b, uint32_t v) {
    if (!reserve(b, 4))
        return false;
    write_u32(b->data + b->length, v);
    b->length += 4;
    return true;
}

bool put_u16(AdrBuffer *b, uint16_t v) {
    if (!reserve(b, 2))
        return false;
    write_u16(b->data + b->length, v);
    b->length += 2;
    return true;
}

bool put_u8(AdrBuffer *b, uint8_t v) {
    if (!reserve(b, 1))
        return false;
    b->data[b->length++] = v;
    return true;
}

// A length prefix and `length` bytes.
inline bool put_counted(AdrBuffer *b, const void *bytes, size_t length) {
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

bool encode_value(AdrBuffer *b, const void *value, TypeCode tc);

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

bool encode_sequence(AdrBuffer *b, const Sequence &seq, TypeCode tc) {
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
            if (is_key_value(element)) {
                const auto *in = static_cast<const KeyValue *>(seq.buffer);
                for (uint32_t i = 0; ok && i < n; ++i) {
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

bool encode_struct(AdrBuffer *b, const void *value, TypeCode tc) {
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

// ---- decoding ---------------------------------------------------------------

inline uint32_t remaining(const AdrBuffer *b) {
    return b->length - b->position;
}

inline uint32_t read_u32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint16_t read_u16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline bool get_u32(AdrBuffer *b, uint32_t &v) {
    if (remaining(b) < 4)
        return fail(b, ADR_E_TRUNCATED);
    v = read_u32(b->data + b->position);
    b->position += 4;
    return true;
}

inline bool get_u16(AdrBuffer *b, uint16_t &v) {
    if (remaining(b) < 2)
        return fail(b, ADR_E_TRUNCATED);
    v = read_u16(b->data + b->position);
    b->position += 2;
    return true;
}

inline bool get_u8(AdrBuffer *b, uint8_t &v) {
    if (remaining(b) < 1)
        return fail(b, ADR_E_TRUNCATED);
    v = b->data[b->position++];
    return true;
}

// Whether `length` bytes hold a zero byte: eight at a time, inline, as most
// strings are a few dozen bytes and a call to memchr costs more than that.
inline bool has_zero_byte(const uint8_t *bytes, uint32_t length) {
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
uint32_t min_encoded_size(TypeCode tc, int depth) {
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

bool decode_value(AdrBuffer *b, void *value, TypeCode tc);

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

bool decode_sequence(AdrBuffer *b, Sequence &seq, TypeCode tc) {
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

bool decode_struct(AdrBuffer *b, void *value, TypeCode tc) {
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

// The common entry checks of the adr_v_* functions.
bool usable(AdrBuffer *b, const void *value) {
    if (b == nullptr || b->error != ADR_OK)
        return false;
    if (value == nullptr)
        return fail(b, ADR_E_BAD_ARGUMENT);
    if (b->direction != ADR_ENCODE && b->direction != ADR_DECODE)
        return fail(b, ADR_E_BAD_ARGUMENT);
    return true;
}

bool marshal(AdrBuffer *b, void *value, TypeCode tc) {
    return b->direction == ADR_ENCODE ? encode_value(b, value, tc) : decode_value(b, value, tc);
}

AdrBuffer *new_buffer(int32_t direction) {
    auto *b = static_cast<AdrBuffer *>(mg_calloc(1, sizeof(AdrBuffer)));
    if (b != nullptr)
        b->direction = direction;
    return b;
}

}  // namespace
}  // namespace korvo::rt

using namespace korvo::rt;

extern "C" {

AdrBuffer *adr_init_encode_buffer(void *data, uint32_t length) {
    AdrBuffer *b = new_buffer(ADR_ENCODE);
    if (b == nullptr)
        return nullptr;
    if (data != nullptr) {
        b->data = static_cast<uint8_t *>(data);
        b->capacity = length;
    } else if (length != 0) {
        b->data = static_cast<uint8_t *>(mg_malloc(length));
        if (b->data == nullptr) {
            mg_free(b);
            return nullptr;
        }
        b->capacity = length;
    }
    return b;
}

AdrBuffer *adr_init_decode_buffer(const void *data, uint32_t length) {
    AdrBuffer *b = new_buffer(ADR_DECODE);
    if (b == nullptr)
        return nullptr;
    b->data = static_cast<uint8_t *>(const_cast<void *>(data));
    b->length = data != nullptr ? length : 0;
    return b;
}

void adr_free_buf(AdrBuffer *buffer) {
    if (buffer == nullptr)
        return;
    if (buffer->direction == ADR_ENCODE)
        mg_free(buffer->data);
    mg_free(buffer);
}

int marshal_item(AdrBuffer *buffer, TypeCode type, void *value) {
    if (!usable(buffer, value))
        return 0;
    TypeCode tc = prepared(type);
    if (tc == nullptr)
        return fail(buffer, ADR_E_BAD_TYPE);
    const int32_t depth = buffer->depth;
    bool ok;
    if (buffer->direction == ADR_DECODE) {
        std::memset(value, 0, tc->size);
        ok = decode_value(buffer, value, tc) && buffer->error == ADR_OK;
        if (!ok)
            vem_free_generic(value, tc);
    } else {
        ok = encode_value(buffer, value, tc) && buffer->error == ADR_OK;
    }
    buffer->depth = depth;
    return ok ? 1 : 0;
}

int adr_v_string(AdrBuffer *buffer, char **value) {
    if (!usable(buffer, value))
        return 0;
    return buffer->direction == ADR_ENCODE ? encode_string(buffer, *value)
                                           : decode_string(buffer, *value);
}

int adr_v_long(AdrBuffer *buffer, int32_t *value) {
    if (!usable(buffer, value))
        return 0;
    return buffer->direction == ADR_ENCODE ? put_u32(buffer, static_cast<uint32_t>(*value))
                                           : get_u32(buffer, *reinterpret_cast<uint32_t *>(value));
}

int adr_v_ulong(AdrBuffer *buffer, uint32_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_ulong);
}

int adr_v_short(AdrBuffer *buffer, int16_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_short);
}

int adr_v_boolean(AdrBuffer *buffer, uint8_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_boolean);
}

int adr_v_octet(AdrBuffer *buffer, uint8_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_octet);
}

int adr_v_any(AdrBuffer *buffer, Any *value) {
    if (!usable(buffer, value))
        return 0;
    return buffer->direction == ADR_ENCODE ? encode_any(buffer, *value)
                                           : decode_any(buffer, *value);
}

int adr_v_Object(AdrBuffer *buffer, void *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_Object);
}

int adr_v_tc_sequence(AdrBuffer *buffer, TypeCode type, void *sequence) {
    if (!usable(buffer, sequence))
        return 0;
    TypeCode tc = prepared(type);
    if (tc == nullptr || tc->kind != tk_sequence)
        return fail(buffer, ADR_E_BAD_TYPE);
    return marshal(buffer, sequence, tc);
}

int adr_v_Vem_Types_XOpenMessage(AdrBuffer *buffer, MessageList *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_Vem_Types_XOpenMessage);
}

int adr_start_struct(AdrBuffer *buffer) {
    if (buffer == nullptr || buffer->error != ADR_OK)
        return 0;
    return enter(buffer);
}

int adr_end_struct(AdrBuffer *buffer) {
    if (buffer == nullptr)
        return 0;
    leave(buffer);
    return buffer->error == ADR_OK;
}

int adr_v_dummy(AdrBuffer *buffer, void *) {
    return buffer != nullptr && buffer->error == ADR_OK;
}

int adr_declare_member_walk(AdrMarshalFn fn) {
    static std::mutex lock;
    if (fn == nullptr)
        return 0;
    std::lock_guard guard(lock);
    if (walks_members(fn))
        return 1;
    const int count = member_walker_count.load(std::memory_order_relaxed);
    if (count == kMaxMemberWalkers)
        return 0;
    member_walkers[count].store(fn, std::memory_order_relaxed);
    member_walker_count.store(count + 1, std::memory_order_release);
    return 1;
}
}
