// Segment and message views: every field from its key or its default (the
// service's defaults for a message), the order in which the keys are read
// and which of them raise, the first of two properties with one key, and
// who owns what. Leaks and double frees are for the sanitized run of the
// suite to find.
#include <gtest/gtest.h>

#include <cstddef>

#include "records/korvo_message.h"
#include "records/korvo_segment.h"
#include "runtime/mg_memory.h"
#include "tests/records/records_test_util.hpp"

namespace {

using namespace records_test;

// clang-format off
#define SEGMENT_FIELD(key, kind) Field{#key, Kind::kind, offsetof(Segment, key)}

// The segment's fields in the order the view reads their keys.
const std::vector<Field> kSegmentFields = {
    SEGMENT_FIELD(id, String), SEGMENT_FIELD(version, String),
    SEGMENT_FIELD(location, String), SEGMENT_FIELD(size, Long), SEGMENT_FIELD(offset, Long),
    SEGMENT_FIELD(ctime, Long), SEGMENT_FIELD(mtime, Long), SEGMENT_FIELD(checksum, Octets),
    SEGMENT_FIELD(disposable, Boolean), SEGMENT_FIELD(is_result, Boolean),
    SEGMENT_FIELD(is_collection, Boolean), SEGMENT_FIELD(del_at_src, Boolean),
    SEGMENT_FIELD(cds_manager, String), SEGMENT_FIELD(cds_packageid, String),
    SEGMENT_FIELD(cds_destination, String), SEGMENT_FIELD(cds_username, String),
    SEGMENT_FIELD(cds_password, String),
};
// clang-format on

const records_test::View kSegmentView = [](Properties *list) -> void * {
    return segment_from_properties(list);
};

TEST(SegmentView, ReadsEveryFieldFromItsKeyOrItsDefault) {
    records_test::expect_fields(kSegmentFields, {0, 1}, kSegmentView, mg_free);  // id, version
}

TEST(SegmentView, ReadsItsKeysInOrderAndRaisesForTheFirstFaultyOne) {
    records_test::expect_reading_order(kSegmentFields, {0, 1}, kSegmentView, mg_free);

    List list;
    EXPECT_EQ(raised_by([&] { segment_from_properties(&list); }).text,
              "Unable to find the property associated with the key id.\n");
    properties_put_string_dup(&list, "id", "seg-1");
    properties_put_string_dup(&list, "version", "1");
    properties_put_string_dup(&list, "size", "1024");
    EXPECT_EQ(raised_by([&] { segment_from_properties(&list); }).text,
              "The wrong property type was specified for the key size.\n");
    EXPECT_STREQ(properties_get_string(&list, "size"), "1024");  // nothing changed

    // A decoded list may hold a key twice: the first property counts.
    properties_put_long_dup(&list, "size", 5);
    Property second{mg_strdup("size"), {TC_string, mg_calloc(1, sizeof(char *))}};
    seq_add(&list, &second, sizeof second);
    Segment *segment = segment_from_properties(&list);
    EXPECT_EQ(segment->size, 5);
    mg_free(segment);
}

TEST(SegmentOwnership, CopiesBelongToTheSegment) {
    auto *list = properties_new();
    properties_put_string_dup(list, "id", "seg-1");
    properties_put_string_dup(list, "version", "2.0");
    Segment *owner = segment_new_from_properties(list);
    ASSERT_NE(owner, nullptr);
    EXPECT_NE(owner->properties, list);
    properties_delete(list);
    mg_free(list);
    EXPECT_STREQ(owner->id, "seg-1");

    owner->marked = 1;
    owner->owned_data = mg_malloc(16);  // segment_delete frees it
    Segment *clone = segment_clone(owner);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone->id, owner->id);
    EXPECT_EQ(clone->marked, 0);
    EXPECT_EQ(clone->owned_data, nullptr);
    segment_delete(owner);
    EXPECT_STREQ(clone->version, "2.0");
    segment_delete(clone);

    // A failed view over a copy frees the copy; the caller's list stays.
    List faulty;
    properties_put_string_dup(&faulty, "id", "seg-1");
    EXPECT_EQ(raised_by([&] { segment_new_from_properties(&faulty); }).number, 36);
    EXPECT_EQ(faulty.length, 1u);

    Segment *empty = segment_new();
    EXPECT_EQ(segment_clone(empty), nullptr);  // no list to copy
    segment_delete(empty);
}

// clang-format off
#define MESSAGE_FIELD(key, kind, ...) Field{#key, Kind::kind, offsetof(Message, key), __VA_ARGS__}

// The message's fields in the order the view reads their keys, with the
// values of absent keys that are not zero.
const std::vector<Field> kMessageFields = {
    MESSAGE_FIELD(app_id, String), MESSAGE_FIELD(type, Short), MESSAGE_FIELD(id, String),
    MESSAGE_FIELD(label, String), MESSAGE_FIELD(size, Long), MESSAGE_FIELD(pri, Short, 3),
    MESSAGE_FIELD(deadline, Long), MESSAGE_FIELD(hidden, Boolean),
    MESSAGE_FIELD(depot_install_meth, String), MESSAGE_FIELD(mand_date, Long),
    MESSAGE_FIELD(force_mandatory, Boolean, 1), MESSAGE_FIELD(recv_meth, String),
    MESSAGE_FIELD(args, Any), MESSAGE_FIELD(cb_recv_meth, String), MESSAGE_FIELD(cb_target, Object),
    MESSAGE_FIELD(notify_intv, Long), MESSAGE_FIELD(data_source, Short, 1),
    MESSAGE_FIELD(target_action, Short, 1), MESSAGE_FIELD(real_target, Object),
    MESSAGE_FIELD(meth_context, Short, 2), MESSAGE_FIELD(bulk_data_flag, Boolean),
    MESSAGE_FIELD(send_timeout, Long), MESSAGE_FIELD(result_timeout, Long),
    MESSAGE_FIELD(parent_dist_id, String), MESSAGE_FIELD(is_result, Boolean),
    MESSAGE_FIELD(repeater_multicast, Boolean), MESSAGE_FIELD(endpoint_multicast, Boolean),
    MESSAGE_FIELD(ds_send_job, Boolean), MESSAGE_FIELD(cds_send_job, Boolean),
    MESSAGE_FIELD(is_cds, Boolean), MESSAGE_FIELD(cds_mc_url, String),
    MESSAGE_FIELD(cds_username, String), MESSAGE_FIELD(cds_type, String),
    MESSAGE_FIELD(cntl_dist_id, String), MESSAGE_FIELD(cbe_dist_id, String),
    MESSAGE_FIELD(cntl_target_oid, Object), MESSAGE_FIELD(is_exclusive, Boolean),
    MESSAGE_FIELD(is_roam, Boolean), MESSAGE_FIELD(roam_endpoints, Boolean, 1),
    MESSAGE_FIELD(wake_on_lan, Boolean), MESSAGE_FIELD(mob_setup, String),
    MESSAGE_FIELD(image_dir, String), MESSAGE_FIELD(res_cb_timeout, Long),
    MESSAGE_FIELD(bulk_checkpoint, Boolean), MESSAGE_FIELD(display_DEFERRED, Boolean),
    MESSAGE_FIELD(prune_successful, Boolean), MESSAGE_FIELD(prune_rewind, Long),
};
// clang-format on

const records_test::View kMessageView = [](Properties *list) -> void * {
    return message_from_properties(list);
};
const records_test::Release kRelease = [](void *message) {
    message_free_buffer(static_cast<Message *>(message));
};

TEST(MessageView, ReadsEveryFieldFromItsKeyOrTheServiceDefault) {
    // Required: type and recv_meth.
    records_test::expect_fields(kMessageFields, {1, 11}, kMessageView, kRelease);
}

TEST(MessageView, ReadsItsKeysInOrder) {
    records_test::expect_reading_order(kMessageFields, {1, 11}, kMessageView, kRelease);
}

TEST(MessageOwnership, ACopyIsDeletedWithoutTouchingTheCallersList) {
    auto *list = properties_new();
    properties_put_short_dup(list, "type", 4);
    properties_put_string_dup(list, "recv_meth", "install");
    Message *owner = message_new_from_properties(list);
    ASSERT_NE(owner, nullptr);
    EXPECT_NE(owner->properties, list);
    properties_delete(list);
    mg_free(list);
    EXPECT_STREQ(owner->recv_meth, "install");
    message_delete(owner);
}

}  // namespace
