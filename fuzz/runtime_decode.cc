// Fuzzes marshal_item decoding. The first byte picks the type decoded from
// the rest. Whatever decodes must copy, compare equal to its copy, encode,
// decode again to an equal value and encode to the same bytes; whatever does
// not must leave the value zeroed. Every value is freed, so leaks show.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_check.hpp"
#include "runtime/generic.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "tests/runtime/sample_types.hpp"

namespace {

using korvo::fuzz::check;

TypeCode pick(uint8_t selector) {
    switch (selector % 5) {
        case 0:
            return TC_any;
        case 1:
            return sample::TC_PropertiesList;
        case 2:
            return sample::TC_AllKinds;
        case 3:
            return TC_Vem_Types_XOpenMessage;
        default:
            return TC_ExErrorMsg;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int registered = sample::register_types();
    check(registered == 1);
    if (size < 1 || size - 1 > UINT32_MAX)
        return 0;
    TypeCode type = pick(data[0]);
    alignas(16) unsigned char value[256], copy[256], again[256];
    check(type->size <= sizeof value);

    AdrBuffer *reader = adr_init_decode_buffer(data + 1, static_cast<uint32_t>(size - 1));
    check(reader != nullptr);
    const int decoded = marshal_item(reader, type, value);
    check((decoded != 0) == (reader->error == ADR_OK));
    check(reader->position <= reader->length);
    adr_free_buf(reader);
    if (!decoded) {
        for (uint32_t i = 0; i < type->size; ++i)
            check(value[i] == 0);
        return 0;
    }

    check(_t_generic_copy(type, nullptr, value, copy) == 1);
    check(_t_generic_equal(type, nullptr, value, copy) == 1);

    AdrBuffer *writer = adr_init_encode_buffer(nullptr, 0);
    check(marshal_item(writer, type, value) == 1);
    AdrBuffer *second = adr_init_decode_buffer(writer->data, writer->length);
    check(marshal_item(second, type, again) == 1);
    check(second->position == writer->length);
    check(_t_generic_equal(type, nullptr, value, again) == 1);
    AdrBuffer *rewriter = adr_init_encode_buffer(nullptr, 0);
    check(marshal_item(rewriter, type, again) == 1);
    check(rewriter->length == writer->length &&
          std::memcmp(rewriter->data, writer->data, writer->length) == 0);

    adr_free_buf(rewriter);
    adr_free_buf(second);
    adr_free_buf(writer);
    vem_free_generic(value, type);
    vem_free_generic(copy, type);
    vem_free_generic(again, type);
    return 0;
}
