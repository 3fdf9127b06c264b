// Stream keys: the type-4 key constructor, its release, and where a key's
// data begins.
#include "stream/stream_key.h"

#include <cstdarg>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"
#include "stream/stream_internal.hpp"

namespace korvo::stream {

namespace {
constexpr uint32_t kTextOffset = 3;
constexpr uint8_t kKeepProgress = 1;
constexpr uint8_t kNoProgress = 2;
}  // namespace

std::string_view key_text(const StreamKey *key) {
    if (key == nullptr || key->buffer == nullptr || key->length <= kTextOffset)
        return {};
    const char *text = reinterpret_cast<const char *>(key->buffer) + kTextOffset;
    const std::size_t room = key->length - kTextOffset;
    const void *end = std::memchr(text, '\0', room);
    return {text, end != nullptr ? static_cast<std::size_t>(static_cast<const char *>(end) - text)
                                 : room};
}

}  // namespace korvo::stream

extern "C" {

StreamKey *file_stream_key_new(int32_t keepProgress, int32_t count, ...) {
    if (count < 0)
        return nullptr;
    std::vector<const char *> strings(static_cast<std::size_t>(count));
    std::size_t length = korvo::stream::kTextOffset;
    va_list arguments;
    va_start(arguments, count);
    for (const char *&text : strings) {
        text = va_arg(arguments, const char *);
        if (text != nullptr)
            length += std::strlen(text) + 1;
    }
    va_end(arguments);
    for (const char *text : strings)
        if (text == nullptr)
            return nullptr;
    if (length > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return nullptr;

    korvo::rt::MgPtr<StreamKey> key(static_cast<StreamKey *>(mg_calloc(1, sizeof(StreamKey))));
    // One zero byte more than the counted length, behind it.
    auto *bytes = static_cast<uint8_t *>(mg_calloc(length + 1, 1));
    if (key == nullptr || bytes == nullptr) {
        mg_free(bytes);
        return nullptr;
    }
    bytes[0] = NET_STREAM_FILES;
    bytes[1] = 0;
    bytes[2] = keepProgress != 0 ? korvo::stream::kKeepProgress : korvo::stream::kNoProgress;
    std::size_t at = korvo::stream::kTextOffset;
    for (const char *text : strings) {
        const std::size_t size = std::strlen(text);
        std::memcpy(bytes + at, text, size);
        at += size;
        bytes[at++] = ',';
    }
    // The last comma becomes the text's NUL; without any string that is the
    // byte before the text, the progress flag.
    bytes[length - 1] = '\0';
    key->maximum = 0;
    key->length = static_cast<uint32_t>(length);
    key->buffer = bytes;
    return key.release();
}

void stream_key_delete(StreamKey *key) {
    if (key == nullptr)
        return;
    mg_free(key->buffer);
    mg_free(key);
}

char *stream_key_get_data(StreamKey *key) {
    if (key == nullptr || key->buffer == nullptr || key->length == 0)
        return nullptr;
    const uint32_t offset = key->buffer[0] == NET_STREAM_FILES ? 3 : 2;
    if (key->length < offset)
        return nullptr;
    return reinterpret_cast<char *>(key->buffer) + offset;
}
}
