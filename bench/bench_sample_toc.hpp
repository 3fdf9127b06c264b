// A TOC of `segments` segments with the ten properties a segment carries
// (strings, longs and a flag), built from the runtime's sample types, and
// its encoded bytes. The caller owns the list (vem_free_generic) and the
// bytes. For one thread at a time (registering the types is not locked).
#pragma once

#include <string>

#include "runtime/generic.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "tests/runtime/sample_types.hpp"

namespace korvo::bench {

inline sample::PropertiesList makeSampleToc(int segments) {
    sample::register_types();
    sample::PropertiesList toc{};
    for (int i = 0; i < segments; ++i) {
        sample::Properties segment{};
        const std::string id = "segment-" + std::to_string(i);
        sample::add_property(segment, "id", sample::string_any(id.c_str()));
        sample::add_property(segment, "version", sample::string_any("1.0"));
        sample::add_property(segment, "hostname", sample::string_any("source.example.com"));
        sample::add_property(segment, "checksum",
                             sample::string_any("9f86d081884c7d659a2feaa0c55ad015"));
        sample::add_property(segment, "data_path",
                             sample::string_any(("/var/korvo/depot/" + id + ".dat").c_str()));
        sample::add_property(segment, "size", sample::long_any(1 << 20));
        sample::add_property(segment, "offset", sample::long_any(0));
        sample::add_property(segment, "ctime", sample::long_any(1700000000 + i));
        sample::add_property(segment, "mtime", sample::long_any(1700000000 + i));
        auto *flag = static_cast<uint8_t *>(mg_malloc(1));
        *flag = 1;
        sample::add_property(segment, "disposable", Any{TC_boolean, flag});
        seq_add(&toc, &segment, sizeof segment);
    }
    return toc;
}

// Decodes `bytes` (an encoded TOC) into `toc`, which the caller frees with
// vem_free_generic.
inline void decodeSampleToc(const sample::Bytes &bytes, sample::PropertiesList &toc) {
    AdrBuffer *buffer = adr_init_decode_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    marshal_item(buffer, sample::TC_PropertiesList, &toc);
    adr_free_buf(buffer);
}

inline sample::Bytes encodedSampleToc(int segments) {
    sample::PropertiesList toc = makeSampleToc(segments);
    sample::Bytes bytes = sample::encode(sample::TC_PropertiesList, &toc);
    vem_free_generic(&toc, sample::TC_PropertiesList);
    return bytes;
}

}  // namespace korvo::bench
