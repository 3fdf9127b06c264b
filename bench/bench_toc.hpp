// The TOC the property-list, record and property-file benchmarks work on:
// `segments` segment lists of the usual six keys (id, version, size, offset,
// location, checksum). The caller owns the list and frees it with
// properties_list_delete.
#pragma once

#include <string>

#include "properties/korvo_properties.h"

namespace korvo::bench {

inline PropertiesList makeToc(int segments) {
    korvo_init();
    PropertiesList toc{};
    const uint8_t digest[16] = {0x9f, 0x86, 0xd0, 0x81, 0x88, 0x4c, 0x7d, 0x65,
                                0x9a, 0x2f, 0xea, 0xa0, 0xc5, 0x5a, 0xd0, 0x15};
    for (int i = 0; i < segments; ++i) {
        Properties segment{};
        const std::string id = "segment-" + std::to_string(i);
        properties_put_string_dup(&segment, "id", id.c_str());
        properties_put_string_dup(&segment, "version", "1.0");
        properties_put_long_dup(&segment, "size", 1 << 20);
        properties_put_long_dup(&segment, "offset", i << 20);
        properties_put_string_dup(&segment, "location",
                                  ("/var/korvo/source/" + id + ".dat").c_str());
        OctetList checksum{16, 16, const_cast<uint8_t *>(digest)};
        properties_put_OctetList_dup(&segment, "checksum", &checksum);
        seq_add(&toc, &segment, sizeof segment);
    }
    return toc;
}

}  // namespace korvo::bench
