// The spans of a stream's segments and the checks of network packets
// against them.
#include "stream/segment_cursor.hpp"

#include <algorithm>
#include <cstring>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"

namespace korvo::stream {

int64_t bounded_size(int64_t size) {
    return std::max<int64_t>(size, 0);
}

int64_t bounded_offset(int64_t offset, int64_t size) {
    return std::clamp<int64_t>(offset, 0, bounded_size(size));
}

SegmentCursor::SegmentCursor(const PropertiesList *toc) : toc_(toc) {
    for (uint32_t i = 0; toc != nullptr && toc->buffer != nullptr && i < toc->length; ++i) {
        SegmentSpan span;
        span.size = bounded_size(properties_get_long2(&toc->buffer[i], SEGMENT_SIZE_KEY, 0));
        span.start =
            bounded_offset(properties_get_long2(&toc->buffer[i], SEGMENT_OFFSET_KEY, 0), span.size);
        spans_.push_back(span);
    }
    skip_complete();
}

std::string segment_name(const PropertiesList *toc, std::size_t index) {
    if (toc == nullptr || toc->buffer == nullptr || index >= toc->length)
        return "?^?";
    const Properties *segment = &toc->buffer[index];
    const char *id = properties_get_string2(segment, SEGMENT_ID_KEY, nullptr);
    const char *version = properties_get_string2(segment, SEGMENT_VERSION_KEY, nullptr);
    return std::string(id != nullptr ? id : "?") + "^" + (version != nullptr ? version : "?");
}

void SegmentCursor::skip_complete() {
    while (current_ < spans_.size() && spans_[current_].remaining() <= 0 &&
           spans_[current_].delivered == 0)
        ++current_;
}

StreamFault SegmentCursor::accept(int64_t bytes) {
    if (current_ >= spans_.size())
        return StreamFault::BeyondTotal;
    SegmentSpan &span = spans_[current_];
    if (bytes > span.remaining())
        return StreamFault::BeyondSegment;
    span.delivered += bytes;
    return StreamFault::None;
}

StreamFault SegmentCursor::end_segment() {
    if (current_ >= spans_.size())
        return StreamFault::None;
    if (spans_[current_].remaining() > 0)
        return StreamFault::EndedEarly;
    ++current_;
    skip_complete();
    return StreamFault::None;
}

void SegmentCursor::open(std::size_t index, int64_t size, int64_t offset) {
    SegmentSpan &span = spans_[index];
    span.size = bounded_size(size);
    span.start = bounded_offset(offset, span.size);
    span.delivered = 0;
    span.taken = true;
    current_ = index;
    if (indexed_)
        remove_path(index);
}

const char *SegmentCursor::data_path(std::size_t index) const {
    if (toc_ == nullptr || toc_->buffer == nullptr || index >= toc_->length)
        return nullptr;
    return properties_get_string2(&toc_->buffer[index], SEGMENT_DATA_PATH_KEY, nullptr);
}

void SegmentCursor::add_path(std::size_t index) {
    const char *path = data_path(index);
    if (path == nullptr || spans_[index].taken)
        return;
    auto entry = byPath_.find(std::string_view(path));
    if (entry == byPath_.end())
        entry = byPath_.emplace(path, std::vector<std::size_t>{}).first;
    std::vector<std::size_t> &segments = entry->second;
    // Usually indexed in TOC order: appended.
    segments.insert(std::upper_bound(segments.begin(), segments.end(), index), index);
    indexedAs_[index] = &segments;
}

void SegmentCursor::remove_path(std::size_t index) {
    std::vector<std::size_t> *indexed = indexedAs_[index];
    if (indexed == nullptr)
        return;
    std::vector<std::size_t> &segments = *indexed;
    const auto at = std::lower_bound(segments.begin(), segments.end(), index);
    if (at != segments.end() && *at == index)
        segments.erase(at);
    indexedAs_[index] = nullptr;
}

void SegmentCursor::index_paths() {
    byPath_.clear();
    indexedAs_.assign(spans_.size(), nullptr);
    indexed_ = true;
    for (std::size_t i = 0; i < spans_.size(); ++i)
        add_path(i);
}

std::size_t SegmentCursor::find_unopened(const char *name) {
    if (name == nullptr)
        return count();
    if (!indexed_)
        index_paths();
    // The index may be behind the TOC (a path that changed without word):
    // an answer it cannot vouch for is sought again in a fresh index.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto entry = byPath_.find(std::string_view(name));
        if (entry != byPath_.end() && !entry->second.empty()) {
            const std::size_t index = entry->second.front();
            const char *path = data_path(index);
            if (path != nullptr && std::strcmp(path, name) == 0)
                return index;
        }
        if (attempt == 0)
            index_paths();
    }
    return count();
}

void SegmentCursor::path_changed(std::size_t index) {
    if (!indexed_ || index >= spans_.size())
        return;
    remove_path(index);
    add_path(index);
}

}  // namespace korvo::stream
