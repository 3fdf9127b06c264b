// The spans of a stream's segments and the checks of network packets
// against them.
#include "stream/segment_cursor.hpp"

#include <algorithm>

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
}

}  // namespace korvo::stream
