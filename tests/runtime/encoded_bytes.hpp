// Bytes in the runtime's encoding, for tests: building them (words high byte
// first, counted strings, concatenation), encoding and decoding one value
// through the runtime's buffers, and checking that a failed decode left its
// value zeroed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/marshal.h"

namespace korvo::test {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes u32(uint32_t n) {
    return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

// A counted string as the encoding writes it.
inline Bytes str(std::string_view s) {
    return u32(static_cast<uint32_t>(s.size())) + Bytes(s.begin(), s.end());
}

// The bytes of one value, or an empty vector with *error set.
inline Bytes encode(TypeCode type, const void *value, int32_t *error = nullptr) {
    AdrBuffer *buffer = adr_init_encode_buffer(nullptr, 0);
    marshal_item(buffer, type, const_cast<void *>(value));
    Bytes bytes;
    if (buffer->error == ADR_OK)
        bytes.assign(buffer->data, buffer->data + buffer->length);
    if (error != nullptr)
        *error = buffer->error;
    adr_free_buf(buffer);
    return bytes;
}

// Decodes one value into `value`; the error code. *consumed, when given,
// receives the bytes read.
inline int32_t decode(TypeCode type, const Bytes &bytes, void *value,
                      uint32_t *consumed = nullptr) {
    AdrBuffer *buffer = adr_init_decode_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    marshal_item(buffer, type, value);
    const int32_t error = buffer->error;
    if (consumed != nullptr)
        *consumed = buffer->position;
    adr_free_buf(buffer);
    return error;
}

// Whether the `size` bytes at `value` are all zero, as a failed decode
// leaves its value.
inline bool all_zero(const void *value, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(value);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

}  // namespace korvo::test
