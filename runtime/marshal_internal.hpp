// Internal to the runtime's encoding: what its three parts (the encoder,
// the decoder and the type-name cache) and the adr_v_* building blocks in
// marshal.cc share. A buffer is used by one thread at a time.
#pragma once

#include <cstdint>

#include "runtime/marshal.h"

namespace korvo::rt::adr {

// The length word of a NULL string, any or sequence.
inline constexpr uint32_t kNullLength = 0xFFFFFFFFu;

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

// The type-name cache (marshal_names.cc): the slots of the buffer remember
// the types whose names it met, so that a list of many values of a few types
// looks each name up once.
// The prepared code of an any's type for encoding, with its name: the name
// must be registered for an equal type, or the bytes could not be decoded
// again. NULL (and the buffer's error set) otherwise.
const AdrTypeCacheSlot *resolve_for_encode(AdrBuffer *b, TypeCode type);
// The registered type of the `length` bytes of `name`; NULL (and the
// buffer's error set) when none is, or it cannot be prepared.
TypeCode resolve_for_decode(AdrBuffer *b, const uint8_t *name, uint32_t length);

}  // namespace korvo::rt::adr
