// Message views: every field from its key, the service's defaults, the order
// in which the keys are read (which missing or mistyped key raises first),
// and who owns the list.
#include <gtest/gtest.h>

#include <cstddef>

#include "records/korvo_message.h"
#include "runtime/mg_memory.h"
#include "tests/records/records_test_util.hpp"

namespace {

using namespace records_test;

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

const records_test::View kView = [](Properties *list) -> void * {
    return message_from_properties(list);
};
const records_test::Release kRelease = [](void *message) {
    message_free_buffer(static_cast<Message *>(message));
};

TEST(MessageView, ReadsEveryFieldFromItsKeyOrTheServiceDefault) {
    records_test::expect_fields(kMessageFields, {1, 11}, kView, kRelease);  // type, recv_meth
}

TEST(MessageView, ReadsItsKeysInOrder) {
    records_test::expect_reading_order(kMessageFields, {1, 11}, kView, kRelease);
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
