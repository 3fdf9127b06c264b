// Helpers for the property-list tests: encoded bytes, owned lists that free
// themselves, and catching what a call raises.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "properties/korvo_catalog.h"
#include "properties/korvo_properties.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

namespace props_test {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes u32(uint32_t n) {
    return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

// A counted string as the encoding writes it.
inline Bytes str(const char *s) {
    const size_t n = std::strlen(s);
    return u32(static_cast<uint32_t>(n)) + Bytes(s, s + n);
}

// The encoding of one value; empty with *error set when it fails.
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

// Decodes `bytes` into `value`; the buffer's error code.
inline int32_t decode(TypeCode type, const Bytes &bytes, void *value) {
    AdrBuffer *buffer = adr_init_decode_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    marshal_item(buffer, type, value);
    const int32_t error = buffer->error;
    adr_free_buf(buffer);
    return error;
}

// A Properties header on the stack whose contents are deleted with it.
struct List : Properties {
    List() : Properties{} {}
    ~List() { properties_delete(this); }
    List(const List &) = delete;
    List &operator=(const List &) = delete;
};

struct Toc : PropertiesList {
    Toc() : PropertiesList{} {}
    ~Toc() { properties_list_delete(this); }
    Toc(const Toc &) = delete;
    Toc &operator=(const Toc &) = delete;
};

// What a call raised: the message number and its arguments; number -1 when
// it returned normally.
struct Raised {
    int32_t number = -1;
    std::string catalog;
    std::vector<std::string> arguments;
    std::string text;
};

inline Raised raised_by(const std::function<void()> &call) {
    Raised raised;
    try {
        korvo::rt::Frame frame;
        call();
    } catch (const korvo::rt::Exception &e) {
        raised.number = e.number();
        raised.text = e.what();
        if (const StringList *arguments = e.arguments())
            for (uint32_t i = 0; i < arguments->length; ++i)
                raised.arguments.emplace_back(arguments->buffer[i]);
        raised.catalog = e.catalog() != nullptr ? e.catalog() : "";
    }
    return raised;
}

}  // namespace props_test
