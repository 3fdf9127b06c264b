// Segment views: reading a segment's fields from its property list, and the
// segments that own a copy of their list.
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/korvo_segment.h"
#include "records/records_internal.hpp"

namespace korvo::records {

SegmentView view_segment(Properties *properties) {
    SegmentView segment(new_record<Segment>("Segment").release());
    Segment &s = *segment;
    // The reading order decides which of several faulty keys raises first.
    s.id = properties_get_string(properties, SEGMENT_ID_KEY);
    s.version = properties_get_string(properties, SEGMENT_VERSION_KEY);
    s.location = properties_get_string2(properties, SEGMENT_LOCATION_KEY, nullptr);
    s.size = properties_get_long2(properties, SEGMENT_SIZE_KEY, 0);
    s.offset = properties_get_long2(properties, SEGMENT_OFFSET_KEY, 0);
    s.ctime = properties_get_long2(properties, SEGMENT_CTIME_KEY, 0);
    s.mtime = properties_get_long2(properties, SEGMENT_MTIME_KEY, 0);
    s.checksum = properties_get_OctetList2(properties, SEGMENT_CHECKSUM_KEY, nullptr);
    s.disposable = properties_get_boolean2(properties, SEGMENT_DISPOSABLE_KEY, 0);
    s.is_result = properties_get_boolean2(properties, SEGMENT_IS_RESULT_KEY, 0);
    s.is_collection = properties_get_boolean2(properties, SEGMENT_IS_COLLECTION_KEY, 0);
    s.del_at_src = properties_get_boolean2(properties, SEGMENT_DELETE_AT_SOURCE_KEY, 0);
    s.cds_manager = properties_get_string2(properties, SEGMENT_CDS_MANAGER, nullptr);
    s.cds_packageid = properties_get_string2(properties, SEGMENT_CDS_PACKAGEID, nullptr);
    s.cds_destination = properties_get_string2(properties, SEGMENT_CDS_DESTINATION, nullptr);
    s.cds_username = properties_get_string2(properties, SEGMENT_CDS_USERNAME, nullptr);
    s.cds_password = properties_get_string2(properties, SEGMENT_CDS_PASSWORD, nullptr);
    s.properties = properties;
    return segment;
}

}  // namespace korvo::records

using korvo::records::OwnedProperties;
using korvo::records::view_segment;

extern "C" {

Segment *segment_new(void) {
    return static_cast<Segment *>(mg_calloc(1, sizeof(Segment)));
}

Segment *segment_from_properties(Properties *properties) {
    if (properties == nullptr)
        return nullptr;
    return view_segment(properties).release();
}

Segment *segment_new_from_properties(const Properties *properties) {
    if (properties == nullptr)
        return nullptr;
    OwnedProperties copy(properties_clone(properties));
    Segment *segment = view_segment(copy.get()).release();
    copy.release();  // now the segment's
    return segment;
}

Segment *segment_clone(const Segment *segment) {
    if (segment == nullptr || segment->properties == nullptr)
        return nullptr;
    return segment_new_from_properties(segment->properties);
}

void segment_delete(Segment *segment) {
    if (segment == nullptr)
        return;
    OwnedProperties owned(segment->properties);
    korvo::records::free_segment_view(segment);
}
}
