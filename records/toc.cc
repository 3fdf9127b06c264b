// TOC views: a list of segment property lists with one segment view per
// element, over the caller's list or over a copy.
#include <cstdint>

#include "properties/korvo_properties.h"
#include "records/korvo_toc.h"
#include "records/records_internal.hpp"

using korvo::records::free_segment_view;
using korvo::records::new_record;
using korvo::records::OwnedPropertiesList;
using korvo::records::view_segment;

namespace {

// The segments array of a TOC being built; frees the array and the views
// made so far unless released.
class SegmentArray {
  public:
    explicit SegmentArray(uint32_t count) : count_(count) {
        if (count_ == 0)
            return;
        array_ = static_cast<Segment **>(mg_calloc(count_, sizeof(Segment *)));
        if (array_ == nullptr)
            vaThrow(nullptr, -1, "Not enough memory for the %1$u segments of a TOC.\n", count_);
    }
    ~SegmentArray() {
        if (array_ == nullptr)
            return;
        for (uint32_t i = 0; i < count_; ++i)
            free_segment_view(array_[i]);
        mg_free(array_);
    }
    SegmentArray(const SegmentArray &) = delete;
    SegmentArray &operator=(const SegmentArray &) = delete;

    Segment *&operator[](uint32_t i) { return array_[i]; }
    Segment **release() {
        Segment **array = array_;
        array_ = nullptr;
        return array;
    }

  private:
    uint32_t count_;
    Segment **array_ = nullptr;
};

// The element count of a list a TOC can hold: a count field is 32-bit signed.
uint32_t element_count(const PropertiesList *list) {
    if (list->buffer == nullptr)
        return 0;
    if (list->length > INT32_MAX)
        vaThrow(nullptr, -1, "A TOC cannot hold %1$u segments.\n", list->length);
    return list->length;
}

}  // namespace

extern "C" {

Toc *toc_from_properties(PropertiesList *list) {
    if (list == nullptr)
        return nullptr;
    auto toc = new_record<Toc>("Toc");
    const uint32_t count = element_count(list);
    SegmentArray segments(count);
    for (uint32_t i = 0; i < count; ++i)
        segments[i] = view_segment(&list->buffer[i]).release();
    toc->count = static_cast<int32_t>(count);
    toc->segments = segments.release();
    toc->list = list;
    return toc.release();
}

Toc *toc_new_from_properties(const PropertiesList *list) {
    if (list == nullptr)
        return nullptr;
    OwnedPropertiesList copy(properties_list_clone(list));
    Toc *toc = toc_from_properties(copy.get());
    copy.release();  // now the TOC's
    return toc;
}

Toc *toc_clone(const Toc *toc) {
    if (toc == nullptr || toc->list == nullptr)
        return nullptr;
    return toc_new_from_properties(toc->list);
}

void toc_free_buffer(Toc *toc) {
    if (toc == nullptr)
        return;
    if (toc->segments != nullptr)
        for (int32_t i = 0; i < toc->count; ++i)
            free_segment_view(toc->segments[i]);
    mg_free(toc->segments);
    toc->segments = nullptr;
    toc->count = 0;
    toc->marked_count = 0;
}

void toc_delete(Toc *toc) {
    if (toc == nullptr)
        return;
    toc_free_buffer(toc);
    OwnedPropertiesList owned(toc->list);
    mg_free(toc);
}
}
