// Fuzzes decoding a property list. Whatever decodes must encode back to the
// bytes it came from (short sequence names are aliases and come back under
// their full names), decode again to an equal list, clone to an equal list
// and answer a get of each of its keys with its own type. Whatever does not
// decode must leave the header zeroed. Every list is freed, so leaks show.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz/properties_fuzz.hpp"
#include "properties/korvo_properties.h"
#include "properties/korvo_seq.h"
#include "runtime/generic.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"

namespace {

using korvo::fuzz::check;
using korvo::fuzz::check_encodes_back;
using korvo::fuzz::kProperties;

struct Encoded {
    AdrBuffer *buffer;
    explicit Encoded(Properties *list) : buffer(adr_init_encode_buffer(nullptr, 0)) {
        check(buffer != nullptr && marshal_item(buffer, kProperties, list) == 1);
    }
    ~Encoded() { adr_free_buf(buffer); }
    std::string_view bytes() const {
        return {reinterpret_cast<const char *>(buffer->data), buffer->length};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int registered = korvo_init();
    check(registered == 1);
    if (size > UINT32_MAX)
        return 0;

    Properties list;
    AdrBuffer *reader = adr_init_decode_buffer(data, static_cast<uint32_t>(size));
    check(reader != nullptr);
    const int decoded = marshal_item(reader, kProperties, &list);
    const uint32_t consumed = reader->position;
    check((decoded != 0) == (reader->error == ADR_OK) && consumed <= size);
    adr_free_buf(reader);
    if (!decoded) {
        const Properties zero{};
        check(std::memcmp(&list, &zero, sizeof list) == 0);
        return 0;
    }

    const std::string_view input(reinterpret_cast<const char *>(data), consumed);
    {
        Encoded first(&list);
        check_encodes_back(first.bytes(), input);

        Properties again;
        AdrBuffer *second = adr_init_decode_buffer(first.buffer->data, first.buffer->length);
        check(marshal_item(second, kProperties, &again) == 1);
        check(second->position == first.buffer->length);
        adr_free_buf(second);
        Encoded rewritten(&again);
        check(rewritten.bytes() == first.bytes());
        check(qel_generic_equal(kProperties, nullptr, &list, &again) == 1);
        properties_delete(&again);
    }

    Properties *copy = properties_clone(&list);
    check(_t_generic_equal(kProperties, nullptr, &list, copy) == 1);
    for (uint32_t i = 0; i < list.length; ++i) {
        const Property &property = list.buffer[i];
        check(property_equal(&property, &copy->buffer[i]) == 1);
        if (property.key == nullptr)  // a NULL key decodes, but nothing looks it up
            continue;
        const int32_t first = properties_get_property_index(&list, property.key);
        check(first >= 0 && static_cast<uint32_t>(first) <= i);
        if (static_cast<uint32_t>(first) == i)
            check(properties_get(&list, property.key, property.value.type, 1) ==
                  property.value.value);
    }
    properties_delete(copy);
    mg_free(copy);
    properties_delete(&list);
    return 0;
}
