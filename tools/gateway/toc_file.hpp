// Distribution files of the gateway peer: a property file (plain layout)
// whose key "j_toc" holds the TOC, one segment per data file, with "id"
// (the file's name), "version" "1", "size", "offset" 0, "location" (the
// file's absolute path, which only the gateway reads) and "checksum" (the
// file's SHA-256, 32 bytes, which korvo receive verifies).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "properties/korvo_types.h"

namespace korvo::gateway {

struct SegmentSource {
    std::string id;
    std::string version;
    std::string location;
    int32_t size = 0;
};

// Writes the TOC of `files` to `path`. Throws std::runtime_error with a
// message for the user when a file cannot be examined, is too large for a
// segment (2^31 - 1 bytes), or two files share a name.
void make_toc_file(const std::string &path, const std::vector<std::string> &files);

// The segments of the TOC file at `path`. Throws std::runtime_error.
std::vector<SegmentSource> load_toc_file(const std::string &path);

// The segments and offsets of a TOC the method handed over (encoded bytes).
struct HandedSegment {
    std::string id;
    std::string version;
    int32_t offset = 0;
};
// Throws std::runtime_error when the bytes are not an encoded TOC.
std::vector<HandedSegment> decode_handed_toc(const uint8_t *bytes, std::size_t length);

}  // namespace korvo::gateway
