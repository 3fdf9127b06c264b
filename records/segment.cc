// Segment views: reading a segment's fields from its property list, and the
// segments that own a copy of their list.
#include <cstddef>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/field_reader.hpp"
#include "records/korvo_segment.h"
#include "records/records_internal.hpp"

namespace korvo::records {

namespace {

// clang-format off
#define SEGMENT_FIELD(field, key, kind, must_exist) \
    FieldSpec{&key, FieldKind::kind, must_exist, offsetof(Segment, field), 0}
// clang-format on

// The fields in the order their keys are read: when several keys are faulty,
// the first of them raises.
constexpr FieldSpec kSegmentFields[] = {
    SEGMENT_FIELD(id, SEGMENT_ID_KEY, String, true),
    SEGMENT_FIELD(version, SEGMENT_VERSION_KEY, String, true),
    SEGMENT_FIELD(location, SEGMENT_LOCATION_KEY, String, false),
    SEGMENT_FIELD(size, SEGMENT_SIZE_KEY, Long, false),
    SEGMENT_FIELD(offset, SEGMENT_OFFSET_KEY, Long, false),
    SEGMENT_FIELD(ctime, SEGMENT_CTIME_KEY, Long, false),
    SEGMENT_FIELD(mtime, SEGMENT_MTIME_KEY, Long, false),
    SEGMENT_FIELD(checksum, SEGMENT_CHECKSUM_KEY, OctetList, false),
    SEGMENT_FIELD(disposable, SEGMENT_DISPOSABLE_KEY, Boolean, false),
    SEGMENT_FIELD(is_result, SEGMENT_IS_RESULT_KEY, Boolean, false),
    SEGMENT_FIELD(is_collection, SEGMENT_IS_COLLECTION_KEY, Boolean, false),
    SEGMENT_FIELD(del_at_src, SEGMENT_DELETE_AT_SOURCE_KEY, Boolean, false),
    SEGMENT_FIELD(cds_manager, SEGMENT_CDS_MANAGER, String, false),
    SEGMENT_FIELD(cds_packageid, SEGMENT_CDS_PACKAGEID, String, false),
    SEGMENT_FIELD(cds_destination, SEGMENT_CDS_DESTINATION, String, false),
    SEGMENT_FIELD(cds_username, SEGMENT_CDS_USERNAME, String, false),
    SEGMENT_FIELD(cds_password, SEGMENT_CDS_PASSWORD, String, false),
};

#undef SEGMENT_FIELD

}  // namespace

SegmentView view_segment(Properties *properties) {
    SegmentView segment(new_record<Segment>("Segment").release());
    static const FieldTable table(kSegmentFields);
    table.read(properties, segment.get());
    segment->properties = properties;
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
