// Stream keys built from a type, an id and a source text or an array of data
// files, and the checkpoint of a distribution's progress record.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "kes/host_file.hpp"
#include "properties/korvo_properties.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "runtime/typecode.h"
#include "stream/korvo_stream_key_builder.h"
#include "stream/mstat.h"
#include "stream/net_stream.h"
#include "stream/stream_key.h"

namespace {

constexpr uint8_t kKeepProgress = 1;
constexpr uint8_t kNoProgress = 2;
constexpr std::size_t kHeader = 3;

bool valid_part(const char *text) {
    return text != nullptr && *text != '\0' && std::strchr(text, ',') == nullptr;
}

bool opens_a_stream(int32_t type) {
    return type >= NET_STREAM_IOM && type <= NET_STREAM_CDS && type != 5;
}

// A key of `type` whose text is the parts joined by commas. The key's length
// counts the text's NUL; one more zero byte lies behind it.
StreamKey *make_key(int32_t type, int32_t keep_progress,
                    const std::vector<std::string_view> &parts) {
    std::size_t length = kHeader;
    for (std::string_view part : parts)
        length += part.size() + 1;  // the comma behind it, or the NUL
    if (length > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return nullptr;
    korvo::rt::MgPtr<StreamKey> key(static_cast<StreamKey *>(mg_calloc(1, sizeof(StreamKey))));
    korvo::rt::MgPtr<uint8_t> bytes(static_cast<uint8_t *>(mg_calloc(length + 1, 1)));
    if (key == nullptr || bytes == nullptr)
        return nullptr;
    bytes.get()[0] = static_cast<uint8_t>(type);
    bytes.get()[2] = keep_progress != 0 ? kKeepProgress : kNoProgress;
    std::size_t at = kHeader;
    for (std::string_view part : parts) {
        std::memcpy(bytes.get() + at, part.data(), part.size());
        at += part.size();
        bytes.get()[at++] = ',';
    }
    bytes.get()[length - 1] = '\0';
    key->length = static_cast<uint32_t>(length);
    key->buffer = bytes.release();
    return key.release();
}

// A string value's decimal count, or 0 when the value is absent, of
// another type or not a whole non-negative number.
int64_t count_under(const Properties *list, const char *key) {
    const int32_t index = properties_get_property_index(list, key);
    if (index < 0)
        return 0;
    const Any &value = list->buffer[index].value;
    if (value.value == nullptr || TypeCode_equal(value.type, nullptr, TC_string) == 0)
        return 0;
    const char *text = *static_cast<char *const *>(value.value);
    if (text == nullptr || *text < '0' || *text > '9')
        return 0;
    char *end = nullptr;
    errno = 0;
    const long long count = std::strtoll(text, &end, 10);
    return errno == 0 && *end == '\0' ? count : 0;
}

struct RecordFree {
    void operator()(mstat *record) const noexcept { mstat_free(record); }
};

}  // namespace

extern "C" {

StreamKey *korvo_stream_key_new(int32_t type, int32_t keep_progress, const char *dist_id,
                                const char *source) {
    if (!opens_a_stream(type) || !valid_part(dist_id))
        return nullptr;
    std::vector<std::string_view> parts{dist_id};
    if (source != nullptr)
        parts.emplace_back(source);
    return make_key(type, keep_progress, parts);
}

StreamKey *korvo_stream_key_new_files(int32_t keep_progress, const char *dist_id,
                                      const char *const *paths, size_t count) {
    if (!valid_part(dist_id) || (paths == nullptr && count != 0))
        return nullptr;
    std::vector<std::string_view> parts{dist_id};
    for (size_t i = 0; i < count; ++i) {
        if (!valid_part(paths[i]))
            return nullptr;
        parts.emplace_back(paths[i]);
    }
    return make_key(NET_STREAM_FILES, keep_progress, parts);
}

int32_t korvo_progress_checkpoint(const char *dist_id, int64_t *bytes) {
    if (bytes != nullptr)
        *bytes = 0;
    if (dist_id == nullptr || *dist_id == '\0' || std::strchr(dist_id, '/') != nullptr)
        return 0;
    std::unique_ptr<mstat, RecordFree> record(mstat_new(dist_id, 0));
    if (record == nullptr)
        return 0;
    // No record is no checkpoint; anything else at its path is read (and
    // refused with a message when it is not a regular file).
    const std::string path = std::string(record->dir) + "/" + dist_id + "." + record->suffix;
    korvo::host::FileInfo status;
    if (!korvo::host::StatLink(path.c_str(), &status) && errno == ENOENT)
        return 0;
    if (mstat_load(record.get()) != 0)
        return 0;
    if (bytes != nullptr)
        *bytes = count_under(&record->properties, "c_len");
    return 1;
}
}
