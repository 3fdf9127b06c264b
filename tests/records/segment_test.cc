// Segment views: every field from its key, the defaults, the order in which
// the keys are read and which of them raise, and who owns what: views that
// borrow must not free the list, views over a copy must not touch it. Leaks
// and double frees are for the sanitized run of the suite to find.
#include <gtest/gtest.h>

#include <cstddef>

#include "records/korvo_segment.h"
#include "runtime/mg_memory.h"
#include "tests/records/records_test_util.hpp"

namespace {

using records_test::expect_field;
using records_test::Field;
using records_test::Kind;
using records_test::List;
using records_test::put_valid;
using records_test::raised_by;

#define SEGMENT_FIELD(key, kind)                 \
    Field {                                      \
#key, Kind::kind, offsetof(Segment, key) \
    }

// The segment's fields in the order the view reads their keys.
const std::vector<Field> kSegmentFields = {
    SEGMENT_FIELD(id, String),
    SEGMENT_FIELD(version, String),
    SEGMENT_FIELD(location, String),
    SEGMENT_FIELD(size, Long),
    SEGMENT_FIELD(offset, Long),
    SEGMENT_FIELD(ctime, Long),
    SEGMENT_FIELD(mtime, Long),
    SEGMENT_FIELD(checksum, Octets),
    SEGMENT_FIELD(disposable, Boolean),
    SEGMENT_FIELD(is_result, Boolean),
    SEGMENT_FIELD(is_collection, Boolean),
    SEGMENT_FIELD(del_at_src, Boolean),
    SEGMENT_FIELD(cds_manager, String),
    SEGMENT_FIELD(cds_packageid, String),
    SEGMENT_FIELD(cds_destination, String),
    SEGMENT_FIELD(cds_username, String),
    SEGMENT_FIELD(cds_password, String),
};

// A list holding "id" and "version" only.
void put_identity(Properties *list, const char *id, const char *version) {
    properties_put_string_dup(list, "id", id);
    properties_put_string_dup(list, "version", version);
}

TEST(SegmentView, ReadsEveryFieldFromItsKey) {
    List list;
    properties_put_string_dup(&list, "hostname", "not read");
    for (size_t i = 0; i < kSegmentFields.size(); ++i)
        put_valid(&list, kSegmentFields[i], static_cast<int32_t>(i));
    Segment *segment = segment_from_properties(&list);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->properties, &list);
    for (size_t i = 0; i < kSegmentFields.size(); ++i)
        expect_field(segment, kSegmentFields[i], &list, static_cast<int32_t>(i));
    EXPECT_EQ(segment->owned_data, nullptr);
    EXPECT_EQ(segment->marked, 0);
    mg_free(segment);
}

TEST(SegmentView, IdAndVersionAloneLeaveEveryOtherFieldEmpty) {
    List list;
    put_identity(&list, "seg-1", "1.0");
    Segment *segment = segment_from_properties(&list);
    ASSERT_NE(segment, nullptr);
    EXPECT_STREQ(segment->id, "seg-1");
    EXPECT_STREQ(segment->version, "1.0");
    for (size_t i = 2; i < kSegmentFields.size(); ++i)
        expect_field(segment, kSegmentFields[i], &list, -1);
    mg_free(segment);
}

TEST(SegmentView, ReadsItsKeysInOrderAndRaisesForTheFirstFaultyOne) {
    const auto order = records_test::reading_order(
        kSegmentFields, [](Properties *list) { mg_free(segment_from_properties(list)); });
    EXPECT_EQ(order, records_test::keys_of(kSegmentFields));

    // A missing id or version raises 36 with the key, before later keys.
    List no_id;
    properties_put_long_dup(&no_id, "version", 1);  // wrong, but read after id
    auto raised = raised_by([&] { segment_from_properties(&no_id); });
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.text, "Unable to find the property associated with the key id.\n");

    List no_version;
    properties_put_string_dup(&no_version, "id", "seg-1");
    properties_put_string_dup(&no_version, "size", "12");
    raised = raised_by([&] { segment_from_properties(&no_version); });
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"version"});

    // The lookup is by exact key: "ID" is not "id".
    List capitals;
    put_identity(&capitals, "seg-1", "1.0");
    properties_remove_and_destroy(&capitals, "id");
    properties_put_string_dup(&capitals, "ID", "seg-1");
    EXPECT_EQ(raised_by([&] { segment_from_properties(&capitals); }).arguments,
              std::vector<std::string>{"id"});
}

// A decoded list may hold a key twice, or a property without a key: the
// first property of a key counts, as for every lookup.
TEST(SegmentView, TheFirstPropertyOfAKeyCounts) {
    List list;
    put_identity(&list, "seg-1", "1.0");
    properties_put_long_dup(&list, "size", 5);
    Property extra[2] = {{mg_strdup("size"), {TC_string, mg_calloc(1, sizeof(char *))}},
                         {nullptr, {TC_long, mg_calloc(1, sizeof(int32_t))}}};
    *static_cast<char **>(extra[0].value.value) = mg_strdup("not this one");
    seq_add(&list, &extra[0], sizeof(Property));
    seq_add(&list, &extra[1], sizeof(Property));
    Segment *segment = segment_from_properties(&list);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->size, 5);
    mg_free(segment);

    properties_remove_and_destroy(&list, "size");  // the first "size" goes
    EXPECT_EQ(raised_by([&] { segment_from_properties(&list); }).number, 37);
}

TEST(SegmentView, SizeHeldAsAStringRaises37) {
    List list;
    put_identity(&list, "seg-1", "1.0");
    properties_put_string_dup(&list, "size", "1024");
    const auto raised = raised_by([&] { segment_from_properties(&list); });
    EXPECT_EQ(raised.number, 37);
    EXPECT_EQ(raised.text, "The wrong property type was specified for the key size.\n");
    // Raising left the list as it was.
    EXPECT_STREQ(properties_get_string(&list, "size"), "1024");
}

TEST(SegmentOwnership, CopiesBelongToTheSegmentAndBorrowedListsToTheCaller) {
    auto *list = properties_new();
    put_identity(list, "seg-1", "2.0");
    properties_put_long_dup(list, "size", 4096);

    Segment *owner = segment_new_from_properties(list);
    Segment *view = segment_from_properties(list);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(view, nullptr);
    EXPECT_NE(owner->properties, list);
    EXPECT_NE(owner->id, view->id);
    // Freeing the borrowing view leaves the list alone; the caller's list can
    // go while the copy lives on.
    mg_free(view);
    EXPECT_STREQ(properties_get_string(list, "id"), "seg-1");
    properties_delete(list);
    mg_free(list);
    EXPECT_STREQ(owner->id, "seg-1");
    EXPECT_STREQ(owner->version, "2.0");
    EXPECT_EQ(owner->size, 4096);

    // segment_delete frees the copy, an attached block and the record.
    owner->owned_data = mg_malloc(64);
    segment_delete(owner);

    // A segment given a list of its own by its caller releases it too.
    Segment *handed = segment_new();
    ASSERT_NE(handed, nullptr);
    handed->properties = properties_new();
    put_identity(handed->properties, "seg-2", "1.0");
    segment_delete(handed);
}

TEST(SegmentOwnership, CloneCopiesTheListButNotTheMarks) {
    List list;
    put_identity(&list, "seg-1", "1.0");
    properties_put_boolean_dup(&list, "disposable", 1);
    Segment *original = segment_new_from_properties(&list);
    ASSERT_NE(original, nullptr);
    original->marked = 1;
    original->owned_data = mg_malloc(16);

    Segment *clone = segment_clone(original);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone->properties, original->properties);
    EXPECT_NE(clone->id, original->id);
    EXPECT_STREQ(clone->id, "seg-1");
    EXPECT_EQ(clone->disposable, 1);
    EXPECT_EQ(clone->marked, 0);
    EXPECT_EQ(clone->owned_data, nullptr);
    segment_delete(original);
    EXPECT_STREQ(clone->version, "1.0");
    segment_delete(clone);
}

TEST(SegmentOwnership, AFailedViewOverACopyLeavesNothingBehind) {
    List list;
    properties_put_string_dup(&list, "id", "seg-1");
    EXPECT_EQ(raised_by([&] { segment_new_from_properties(&list); }).number, 36);
    EXPECT_EQ(list.length, 1u);
}

TEST(SegmentOwnership, NullAndEmptyInputs) {
    EXPECT_EQ(segment_from_properties(nullptr), nullptr);
    EXPECT_EQ(segment_new_from_properties(nullptr), nullptr);
    EXPECT_EQ(segment_clone(nullptr), nullptr);
    Segment *empty = segment_new();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(segment_clone(empty), nullptr);  // no list to copy
    segment_delete(empty);
    segment_delete(nullptr);
}

}  // namespace
