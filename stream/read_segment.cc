// Which TOC segment the file a file-kind stream has open belongs to.
#include "stream/read_segment.h"

#include <cstring>

#include "properties/korvo_types.h"
#include "runtime/stypes.h"
#include "stream/file_stream.h"
#include "stream/stream_internal.hpp"

using namespace korvo::stream;

namespace {

// The segment's "data_path" string (its first occurrence), or nullptr. A
// look that never raises: a value of another type is no path.
const char *data_path_of(const Properties &segment) {
    for (uint32_t i = 0; segment.buffer != nullptr && i < segment.length; ++i) {
        const Property &item = segment.buffer[i];
        if (item.key == nullptr || std::strcmp(item.key, "data_path") != 0)
            continue;
        if (item.value.type != TC_string || item.value.value == nullptr)
            return nullptr;
        return *static_cast<char *const *>(item.value.value);
    }
    return nullptr;
}

}  // namespace

extern "C" {

int32_t net_stream_read_segment(const NetStream *stream) {
    if (stream == nullptr || !is_file_kind(stream) || stream->toc == nullptr)
        return -1;
    const FileStreamState *state = state_of(const_cast<NetStream *>(stream));
    if (state == nullptr || state->file == nullptr || state->file->name == nullptr)
        return -1;
    // The same rule by which the read chose the file: the first segment
    // whose "data_path" is its name, byte for byte.
    const PropertiesList *toc = stream->toc;
    for (uint32_t i = 0; toc->buffer != nullptr && i < toc->length; ++i) {
        const char *path = data_path_of(toc->buffer[i]);
        if (path != nullptr && std::strcmp(path, state->file->name) == 0)
            return static_cast<int32_t>(i);
    }
    return -1;
}
}
