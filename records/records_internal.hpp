// Helpers shared by the record views: new records that raise when memory is
// exhausted, owners for the property lists a record copies, and the segment
// view that segments and TOCs both build.
#pragma once

#include <memory>

#include "properties/korvo_properties.h"
#include "records/korvo_segment.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"

namespace korvo::records {

// A zeroed mg block for one `T`; raises a runtime error naming `what` when
// memory is exhausted.
template <typename T>
korvo::rt::MgPtr<T> new_record(const char *what) {
    korvo::rt::MgPtr<T> record(static_cast<T *>(mg_calloc(1, sizeof(T))));
    if (record == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s record.\n", what);
    return record;
}

// Owners of a list header from the runtime's allocator and of everything in
// it (properties_clone, properties_list_clone).
struct PropertiesDelete {
    void operator()(Properties *list) const noexcept {
        properties_delete(list);
        mg_free(list);
    }
};
struct PropertiesListDelete {
    void operator()(PropertiesList *list) const noexcept {
        properties_list_delete(list);
        mg_free(list);
    }
};
using OwnedProperties = std::unique_ptr<Properties, PropertiesDelete>;
using OwnedPropertiesList = std::unique_ptr<PropertiesList, PropertiesListDelete>;

// Frees a segment view that borrows its list: its owned_data and the record.
inline void free_segment_view(Segment *segment) noexcept {
    if (segment == nullptr)
        return;
    mg_free(segment->owned_data);
    mg_free(segment);
}
struct SegmentViewFree {
    void operator()(Segment *segment) const noexcept { free_segment_view(segment); }
};
using SegmentView = std::unique_ptr<Segment, SegmentViewFree>;

// A new segment that borrows `properties` (not NULL) with its fields read;
// raises messages 36 and 37 as segment_from_properties does.
SegmentView view_segment(Properties *properties);

}  // namespace korvo::records
