// Fuzzes loading property files: the same bytes are loaded as a plain, a
// marked and a bare file. A load either gives a list whose encoding is the
// file's body (and whose header words agree with the body's size), or raises
// message 19 or 35 and leaves the caller's header empty. Everything is
// freed, so leaks show. The file is an InputFile (a memory file on Linux,
// so that no disk is touched there).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_scratch.hpp"
#include "fuzz/properties_fuzz.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

namespace {

using korvo::fuzz::check;
using korvo::fuzz::check_encodes_back;
using korvo::fuzz::kProperties;

uint32_t le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Loads the file in one layout; the header size of the layout is `header`
// (0 for bare).
void load_one(const std::string &path, const uint8_t *data, size_t size, size_t header,
              void (*load)(Properties *, const char *)) {
    Properties list{};
    int32_t raised = 0;
    try {
        korvo::rt::Frame frame;
        load(&list, path.c_str());
    } catch (const korvo::rt::Exception &e) {
        raised = e.number();
    }
    if (raised != 0) {
        check(raised == 19 || raised == 35);
        const Properties empty{};
        check(std::memcmp(&list, &empty, sizeof list) == 0);
        return;
    }
    check(size >= header);
    if (header == 4)
        check(le32(data) == size - header);
    if (header == 8)
        check(be32(data + 4) == size - header);
    const std::string_view body(reinterpret_cast<const char *>(data) + header, size - header);
    void *encoded = nullptr;
    uint32_t length = 0;
    properties_encode(kProperties, &list, &encoded, &length);
    check_encodes_back(std::string_view(static_cast<const char *>(encoded), length), body);
    mg_free(encoded);
    properties_delete(&list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int registered = korvo_init();
    static korvo::fuzz::InputFile file;
    check(registered == 1);
    file.fill(data, size);
    load_one(file.path, data, size, 4, properties_load);
    load_one(file.path, data, size, 8, properties_load_improved);
    load_one(file.path, data, size, 0, properties_load_without_len);
    return 0;
}
