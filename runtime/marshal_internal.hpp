// Internal to the runtime's encoding: what its three parts (the encoder,
// the decoder and the type-name cache) and the adr_v_* building blocks in
// marshal.cc share. A buffer is used by one thread at a time.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/marshal.h"
#include "runtime/mg_pool.hpp"

namespace korvo::rt::adr {

// The length word of a NULL string, any or sequence.
inline constexpr uint32_t kNullLength = 0xFFFFFFFFu;

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

inline uint32_t read_u32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint16_t read_u16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// The bytes of a 64-bit word that are 0, as their high bits (exactly those:
// no carry crosses from one byte into the next).
inline uint64_t zero_bytes(uint64_t word) {
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu;
    return ~(((word & kLow7) + kLow7) | word | kLow7);
}

// The index in memory order of the first byte that zero_bytes marked.
inline unsigned first_marked_byte(uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
    else
        return static_cast<unsigned>(__builtin_clzll(marks)) / 8;
}

// Copies `n` bytes inline: short runs (octet lists of a few dozen bytes)
// cost less than a call to memcpy; long ones go to memcpy.
inline void copy_bytes(void *to, const void *from, size_t n) {
    auto *out = static_cast<uint8_t *>(to);
    const auto *in = static_cast<const uint8_t *>(from);
    if (n > 64) {
        std::memcpy(out, in, n);
        return;
    }
    if (n >= 8) {
        uint64_t word;
        for (size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(&word, in + i, 8);
            std::memcpy(out + i, &word, 8);
        }
        std::memcpy(&word, in + n - 8, 8);
        std::memcpy(out + n - 8, &word, 8);
        return;
    }
    for (size_t i = 0; i < n; ++i)
        out[i] = in[i];
}

// The value kinds the flat loops over key/value lists write and read
// themselves; everything else takes the general walk.
enum class Flat : uint8_t { kNone, kText, kWord, kHalf, kOctet, kBoolean, kOctets };

// The flat kind of a prepared type, and for octet sequences their bound.
Flat flat_kind(TypeCode tc, uint32_t &bound);

// The types an encode has met, with their names already in encoded form (the
// length word and the name, padded with zeros to a fixed size, so that they
// are copied with a fixed-size copy).
struct EncodeMemo {
    static constexpr uint32_t kNameRoom = 64;
    struct Entry {
        TypeCode type;      // as the any holds it
        TypeCode prepared;  // its prepared code
        uint32_t size;      // bytes of the encoded name
        uint32_t bound;     // of an octet sequence
        Flat flat;
        alignas(16) uint8_t encoded[kNameRoom];
    };
    static constexpr int kEntries = 4;
    Entry entries[kEntries];
    int count = 0;
    int next = 0;

    const Entry *find(TypeCode type) const {
        for (int i = 0; i < count; ++i)
            if (entries[i].type == type)
                return &entries[i];
        return nullptr;
    }
    // Remembers a type resolved for the buffer; NULL when it cannot be (its
    // name too long for the fixed copy, or resolving it failed, which is
    // left to the general walk to report).
    const Entry *learn(AdrBuffer *b, TypeCode type);
};

// The types a decode has met, found by their encoded names: a table of 16
// indexed by a hash of the name's length and first 8 bytes, so that a name
// is found with one comparison. Lists of the same shape (the segments of a
// TOC) hold the same types at the same places, so the type found at each of
// the first places of a list is tried first at that place of the next.
struct DecodeMemo {
    // Masks of a word's first 0 to 7 bytes in memory (a table: a shift by a
    // variable count is slow).
    static constexpr std::array<uint64_t, 8> kFirstBytes = [] {
        std::array<uint64_t, 8> masks{};
        for (int n = 0; n < 8; ++n)
            masks[n] = std::endian::native == std::endian::little
                           ? (uint64_t{1} << (8 * n)) - 1
                           : (n == 0 ? 0 : ~uint64_t{0} << (64 - 8 * n));
        return masks;
    }();
    struct Entry {
        uint64_t head;  // the name's first 8 bytes, zero-padded
        uint32_t length;
        uint32_t bound;
        const char *name;
        TypeCode type;  // NULL: an empty entry
        Flat flat;
    };
    static constexpr size_t kEntries = 16;
    static constexpr uint32_t kPlaces = 16;
    Entry entries[kEntries];
    const Entry *places[kPlaces];

    DecodeMemo() {
        for (Entry &entry : entries)
            entry.type = nullptr;
        for (const Entry *&place : places)
            place = &entries[0];  // empty: never matches
    }

    // Whether two names of `length` (more than 8) bytes agree past their
    // first 8: a word at a time, the last word overlapping the one before.
    static bool same_tail(const char *a, const uint8_t *b, uint32_t length) {
        uint64_t x, y;
        for (uint32_t i = 8; i + 8 < length; i += 8) {
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y)
                return false;
        }
        std::memcpy(&x, a + length - 8, 8);
        std::memcpy(&y, b + length - 8, 8);
        return x == y;
    }
    // The first 8 bytes of a name of `length` bytes, zero-padded; the input
    // holds `available` bytes from `name` on.
    static uint64_t head_of(const uint8_t *name, uint32_t length, size_t available) {
        uint64_t head = 0;
        if (available >= 8) {
            std::memcpy(&head, name, 8);
            if (length < 8)  // keep the name's bytes, the first in memory
                head &= kFirstBytes[length];
        } else {
            uint8_t bytes[8] = {};
            for (uint32_t i = 0; i < length && i < 8; ++i)
                bytes[i] = name[i];
            std::memcpy(&head, bytes, 8);
        }
        return head;
    }
    static size_t slot(uint64_t head, uint32_t length) {
        return ((head * 0x9e3779b97f4a7c15u) >> 60 ^ length) % kEntries;
    }
    static bool matches(const Entry &entry, uint64_t head, const uint8_t *name, uint32_t length) {
        return entry.head == head && entry.length == length && entry.type != nullptr &&
               (length <= 8 || same_tail(entry.name, name, length));
    }
    // The type of the name found at place `place` of a list.
    const Entry *find(uint32_t place, const uint8_t *name, uint32_t length, size_t available) {
        const uint64_t head = head_of(name, length, available);
        const Entry *guess = place < kPlaces ? places[place] : nullptr;
        if (guess != nullptr && matches(*guess, head, name, length))
            return guess;
        const Entry &entry = entries[slot(head, length)];
        if (!matches(entry, head, name, length))
            return nullptr;
        if (place < kPlaces)
            places[place] = &entry;
        return &entry;
    }
    // Resolves and remembers a name; NULL when it cannot be resolved, which
    // is left to the general walk to report.
    const Entry *learn(AdrBuffer *b, const uint8_t *name, uint32_t length);
};

// What marshal_item keeps for the duration of one encode or decode on its
// thread: the memo of types, and for a decode the carver whose slabs hold
// the decoded blocks.
struct Encoding {
    EncodeMemo memo;
    TypeCode pairs = nullptr;  // the last element type found to be a pair
};
struct Decoding {
    explicit Decoding(size_t hint) : carver(hint) {}
    pool::Carver carver;
    DecodeMemo memo;
    TypeCode pairs = nullptr;
};

extern constinit thread_local Encoding *active_encoding [[gnu::tls_model("initial-exec")]];
extern constinit thread_local Decoding *active_decoding [[gnu::tls_model("initial-exec")]];

// Records `code` as the buffer's error unless it has one already; false.
[[gnu::cold]] bool fail(AdrBuffer *b, int32_t code);

// One level deeper into nested values; fails past ADR_MAX_DEPTH.
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

// Whether the type has a marshal function of its own that must be called
// (not adr_v_dummy, not one declared to walk the members).
bool has_own_marshal(TypeCode tc);
// A walked structure of the property shape (tc_walk.hpp): sequences of
// them are marshalled member by member without the general walk.
bool is_key_value(TypeCode tc);
// is_key_value, remembered in `known` for the element type seen last (an
// encode or a decode of a TOC meets the same one a thousand times). Only a
// yes is remembered: a type's marshal function may be declared a member
// walk later, never the other way.
inline bool is_pair_list_element(TypeCode element, TypeCode &known) {
    if (element == known)
        return true;
    if (!is_key_value(element))
        return false;
    known = element;
    return true;
}

// Calls the type's own marshal function; one that fails without saying why
// is reported as a bad value.
bool call_own_marshal(AdrBuffer *b, void *value, TypeCode tc);

// The encoder (marshal_encode.cc). Each appends to the buffer's bytes.
bool encode_value(AdrBuffer *b, const void *value, TypeCode tc);
bool encode_string(AdrBuffer *b, const char *text);
bool encode_any(AdrBuffer *b, const Any &any);
bool encode_u32(AdrBuffer *b, uint32_t v);

// The decoder (marshal_decode.cc). Each reads at the buffer's position into
// zeroed storage; what a failure leaves is freed by a generic free.
bool decode_value(AdrBuffer *b, void *value, TypeCode tc);
bool decode_string(AdrBuffer *b, char *&out);
bool decode_any(AdrBuffer *b, Any &any);
bool decode_u32(AdrBuffer *b, uint32_t &v);
// encode_value and decode_value for marshal_item, with the thread's
// Encoding or Decoding in place (a nested call joins the running one).
bool encode_item(AdrBuffer *b, const void *value, TypeCode tc);
bool decode_item(AdrBuffer *b, void *value, TypeCode tc);

// The type-name cache (marshal_names.cc): the slots of the buffer remember
// the types whose names it met, so that a list of many values of a few types
// looks each name up once.
// The prepared code of an any's type for encoding, with its name: the name
// must be registered for an equal type, or the bytes could not be decoded
// again. NULL (and the buffer's error set) otherwise.
const AdrTypeCacheSlot *resolve_for_encode(AdrBuffer *b, TypeCode type);
// The same, leaving the buffer's error alone: NULL and the code in `error`.
const AdrTypeCacheSlot *lookup_for_encode(AdrBuffer *b, TypeCode type, int32_t &error);
// The registered type of the `length` bytes of `name`; NULL (and the
// buffer's error set) when none is, or it cannot be prepared.
TypeCode resolve_for_decode(AdrBuffer *b, const uint8_t *name, uint32_t length);
// The same, leaving the buffer's error alone: NULL and the code in `error`.
TypeCode lookup_for_decode(AdrBuffer *b, const uint8_t *name, uint32_t length, const char *&stable,
                           int32_t &error);

}  // namespace korvo::rt::adr
