// Making, loading and decoding the TOCs the gateway peer serves.
#include "tools/gateway/toc_file.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "tools/gateway/host_files.hpp"

namespace korvo::gateway {

namespace {

struct ListDelete {
    void operator()(Properties *list) const noexcept {
        properties_delete(list);
        mg_free(list);
    }
};

// A string value as text; a missing key or a NULL string gives "".
std::string text_of(const Properties *list, const char *key) {
    const char *value = properties_get_string2(list, key, nullptr);
    return value != nullptr ? value : "";
}

// A file's name without its folders: the segment id the TOC gives it.
std::string base_name(const std::string &path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Runs `body`, turning a raised catalog message into std::runtime_error.
template <typename Body>
auto translating(const std::string &what, Body body) {
    try {
        korvo::rt::Frame frame;
        return body();
    } catch (const korvo::rt::Exception &e) {
        throw std::runtime_error(what + ": " + e.what());
    }
}

}  // namespace

void make_toc_file(const std::string &path, const std::vector<std::string> &files) {
    translating(path, [&] {
        PropertiesList toc{};
        std::unique_ptr<PropertiesList, void (*)(PropertiesList *)> guard(
            &toc, [](PropertiesList *list) { properties_list_delete(list); });
        std::set<std::string> ids;
        for (const std::string &file : files) {
            std::error_code failed;
            if (!std::filesystem::is_regular_file(file, failed))
                throw std::runtime_error(file + ": not a regular file");
            const std::uintmax_t size = std::filesystem::file_size(file, failed);
            if (failed)
                throw std::runtime_error(file + ": not a regular file");
            if (size > INT32_MAX)
                throw std::runtime_error(file + ": larger than a segment may be (2^31 - 1 bytes)");
            const std::string location = full_path(file);
            if (location.empty())
                throw std::runtime_error(file + ": cannot be resolved");
            const std::string id = base_name(file);
            if (!ids.insert(id).second)
                throw std::runtime_error(file + ": another file has the name " + id);
            std::vector<uint8_t> digest = file_sha256(file);
            Properties segment{};
            properties_put_string_dup(&segment, SEGMENT_ID_KEY, id.c_str());
            properties_put_string_dup(&segment, SEGMENT_VERSION_KEY, "1");
            properties_put_long_dup(&segment, SEGMENT_SIZE_KEY, static_cast<int32_t>(size));
            properties_put_long_dup(&segment, SEGMENT_OFFSET_KEY, 0);
            properties_put_string_dup(&segment, SEGMENT_LOCATION_KEY, location.c_str());
            const OctetList checksum{static_cast<uint32_t>(digest.size()),
                                     static_cast<uint32_t>(digest.size()), digest.data()};
            properties_put_OctetList_dup(&segment, SEGMENT_CHECKSUM_KEY, &checksum);
            if (seq_add(&toc, &segment, sizeof segment) < 0) {
                properties_delete(&segment);
                throw std::runtime_error("out of memory");
            }
        }
        Properties file{};
        std::unique_ptr<Properties, void (*)(Properties *)> file_guard(
            &file, [](Properties *list) { properties_delete(list); });
        properties_put_properties_list_dup(&file, JOB_TOC_KEY, &toc);
        properties_save(&file, path.c_str());
    });
}

std::vector<SegmentSource> load_toc_file(const std::string &path) {
    return translating(path, [&] {
        Properties file{};
        std::unique_ptr<Properties, void (*)(Properties *)> guard(
            &file, [](Properties *list) { properties_delete(list); });
        properties_load(&file, path.c_str());
        const PropertiesList *toc = properties_get_properties_list(&file, JOB_TOC_KEY);
        std::vector<SegmentSource> segments;
        for (uint32_t i = 0; toc->buffer != nullptr && i < toc->length; ++i) {
            const Properties *segment = &toc->buffer[i];
            SegmentSource source;
            source.id = text_of(segment, SEGMENT_ID_KEY);
            source.version = text_of(segment, SEGMENT_VERSION_KEY);
            source.location = text_of(segment, SEGMENT_LOCATION_KEY);
            source.size = properties_get_long(segment, SEGMENT_SIZE_KEY);
            if (source.size < 0)
                throw std::runtime_error(path + ": segment " + source.id + " has a negative size");
            segments.push_back(std::move(source));
        }
        return segments;
    });
}

std::vector<HandedSegment> decode_handed_toc(const uint8_t *bytes, std::size_t length) {
    return translating("the TOC the method handed over", [&] {
        PropertiesList toc{};
        std::unique_ptr<PropertiesList, void (*)(PropertiesList *)> guard(
            &toc, [](PropertiesList *list) { properties_list_delete(list); });
        properties_decode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, bytes,
                          static_cast<uint32_t>(length), &toc);
        std::vector<HandedSegment> segments;
        for (uint32_t i = 0; toc.buffer != nullptr && i < toc.length; ++i) {
            HandedSegment segment;
            segment.id = text_of(&toc.buffer[i], SEGMENT_ID_KEY);
            segment.version = text_of(&toc.buffer[i], SEGMENT_VERSION_KEY);
            segment.offset = properties_get_long2(&toc.buffer[i], SEGMENT_OFFSET_KEY, 0);
            segments.push_back(std::move(segment));
        }
        return segments;
    });
}

}  // namespace korvo::gateway
