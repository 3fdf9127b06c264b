// Message views: every field from its key, the service's defaults, the order
// in which the keys are read (which missing or mistyped key raises first),
// keys checked only when present, and who owns the list.
#include <gtest/gtest.h>

#include <cstddef>

#include "records/korvo_message.h"
#include "runtime/mg_memory.h"
#include "tests/records/records_test_util.hpp"

namespace {

using records_test::expect_field;
using records_test::Field;
using records_test::Kind;
using records_test::List;
using records_test::put_valid;
using records_test::raised_by;

#define MESSAGE_FIELD(key, kind, ...)                         \
    Field {                                                   \
#key, Kind::kind, offsetof(Message, key), __VA_ARGS__ \
    }

// The message's fields in the order the view reads their keys, with the
// values of absent keys that are not zero.
const std::vector<Field> kMessageFields = {
    MESSAGE_FIELD(app_id, String),
    MESSAGE_FIELD(type, Short),
    MESSAGE_FIELD(id, String),
    MESSAGE_FIELD(label, String),
    MESSAGE_FIELD(size, Long),
    MESSAGE_FIELD(pri, Short, 3),
    MESSAGE_FIELD(deadline, Long),
    MESSAGE_FIELD(hidden, Boolean),
    MESSAGE_FIELD(depot_install_meth, String),
    MESSAGE_FIELD(mand_date, Long),
    MESSAGE_FIELD(force_mandatory, Boolean, 1),
    MESSAGE_FIELD(recv_meth, String),
    MESSAGE_FIELD(args, Any),
    MESSAGE_FIELD(cb_recv_meth, String),
    MESSAGE_FIELD(cb_target, Object),
    MESSAGE_FIELD(notify_intv, Long),
    MESSAGE_FIELD(data_source, Short, 1),
    MESSAGE_FIELD(target_action, Short, 1),
    MESSAGE_FIELD(real_target, Object),
    MESSAGE_FIELD(meth_context, Short, 2),
    MESSAGE_FIELD(bulk_data_flag, Boolean),
    MESSAGE_FIELD(send_timeout, Long),
    MESSAGE_FIELD(result_timeout, Long),
    MESSAGE_FIELD(parent_dist_id, String),
    MESSAGE_FIELD(is_result, Boolean),
    MESSAGE_FIELD(repeater_multicast, Boolean),
    MESSAGE_FIELD(endpoint_multicast, Boolean),
    MESSAGE_FIELD(ds_send_job, Boolean),
    MESSAGE_FIELD(cds_send_job, Boolean),
    MESSAGE_FIELD(is_cds, Boolean),
    MESSAGE_FIELD(cds_mc_url, String),
    MESSAGE_FIELD(cds_username, String),
    MESSAGE_FIELD(cds_type, String),
    MESSAGE_FIELD(cntl_dist_id, String),
    MESSAGE_FIELD(cbe_dist_id, String),
    MESSAGE_FIELD(cntl_target_oid, Object),
    MESSAGE_FIELD(is_exclusive, Boolean),
    MESSAGE_FIELD(is_roam, Boolean),
    MESSAGE_FIELD(roam_endpoints, Boolean, 1),
    MESSAGE_FIELD(wake_on_lan, Boolean),
    MESSAGE_FIELD(mob_setup, String),
    MESSAGE_FIELD(image_dir, String),
    MESSAGE_FIELD(res_cb_timeout, Long),
    MESSAGE_FIELD(bulk_checkpoint, Boolean),
    MESSAGE_FIELD(display_DEFERRED, Boolean),
    MESSAGE_FIELD(prune_successful, Boolean),
    MESSAGE_FIELD(prune_rewind, Long),
};

// The two keys a message must hold.
void put_required(Properties *list) {
    properties_put_short_dup(list, "type", 4);
    properties_put_string_dup(list, "recv_meth", "install");
}

TEST(MessageView, TypeAndReceivingMethodAloneGiveTheServiceDefaults) {
    List list;
    put_required(&list);
    Message *message = message_from_properties(&list);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->properties, &list);
    EXPECT_EQ(message->type, 4);
    EXPECT_STREQ(message->recv_meth, "install");
    for (const Field &field : kMessageFields)
        if (std::string(field.key) != "type" && std::string(field.key) != "recv_meth")
            expect_field(message, field, &list, -1);
    message_free_buffer(message);
}

TEST(MessageView, ReadsEveryFieldFromItsKey) {
    List list;
    properties_put_string_dup(&list, "u_id", "not read");
    for (size_t i = 0; i < kMessageFields.size(); ++i)
        put_valid(&list, kMessageFields[i], static_cast<int32_t>(i));
    Message *message = message_from_properties(&list);
    ASSERT_NE(message, nullptr);
    for (size_t i = 0; i < kMessageFields.size(); ++i)
        expect_field(message, kMessageFields[i], &list, static_cast<int32_t>(i));
    message_free_buffer(message);
}

TEST(MessageView, ReadsItsKeysInOrder) {
    const auto order = records_test::reading_order(kMessageFields, [](Properties *list) {
        message_free_buffer(message_from_properties(list));
    });
    EXPECT_EQ(order, records_test::keys_of(kMessageFields));
}

TEST(MessageView, MissingRequiredKeysRaiseInReadingOrder) {
    auto first_raised = [](Properties *list) {
        const auto raised = raised_by([&] { message_from_properties(list); });
        return std::to_string(raised.number) + " " +
               (raised.arguments.empty() ? "" : raised.arguments[0]);
    };
    List empty;
    EXPECT_EQ(first_raised(&empty), "36 type");

    // "app_id" is read before "type", "id" after it.
    List no_type;
    properties_put_long_dup(&no_type, "id", 7);
    EXPECT_EQ(first_raised(&no_type), "36 type");
    properties_put_long_dup(&no_type, "app_id", 7);
    EXPECT_EQ(first_raised(&no_type), "37 app_id");

    // "hidden" is read before "recv_meth", "args" after it.
    List no_method;
    properties_put_short_dup(&no_method, "type", 1);
    properties_put_string_dup(&no_method, "args", "not an any");
    EXPECT_EQ(first_raised(&no_method), "36 recv_meth");
    properties_put_long_dup(&no_method, "hidden", 1);
    EXPECT_EQ(first_raised(&no_method), "37 hidden");

    // A "type" held as a long is a wrong type, not a missing key.
    List long_type;
    properties_put_long_dup(&long_type, "type", 1);
    EXPECT_EQ(first_raised(&long_type), "37 type");
}

TEST(MessageView, KeysReadOnlyWhenPresentRaiseOnlyWhenPresent) {
    List list;
    put_required(&list);
    Message *message = message_from_properties(&list);
    EXPECT_EQ(message->size, 0);
    EXPECT_EQ(message->app_id, nullptr);
    message_free_buffer(message);
    properties_put_string_dup(&list, "size", "1024");
    const auto raised = raised_by([&] { message_from_properties(&list); });
    EXPECT_EQ(raised.number, 37);
    EXPECT_EQ(raised.text, "The wrong property type was specified for the key size.\n");
}

TEST(MessageOwnership, ACopyIsDeletedWithoutTouchingTheCallersList) {
    auto *list = properties_new();
    put_required(list);
    properties_put_string_dup(list, "label", "Office suite");

    Message *owner = message_new_from_properties(list);
    ASSERT_NE(owner, nullptr);
    EXPECT_NE(owner->properties, list);
    Message *view = message_from_properties(list);
    ASSERT_NE(view, nullptr);
    message_free_buffer(view);  // the record only

    properties_delete(list);
    mg_free(list);
    EXPECT_STREQ(owner->label, "Office suite");
    message_delete(owner);

    // A failed view over a copy frees the copy; the caller's list stays.
    List faulty;
    properties_put_short_dup(&faulty, "type", 1);
    EXPECT_EQ(raised_by([&] { message_new_from_properties(&faulty); }).number, 36);
    EXPECT_EQ(faulty.length, 1u);
}

TEST(MessageOwnership, NullInputsAndEmptyRecords) {
    EXPECT_EQ(message_from_properties(nullptr), nullptr);
    EXPECT_EQ(message_new_from_properties(nullptr), nullptr);
    message_delete(nullptr);
    message_free_buffer(nullptr);
    message_log(nullptr);
    Message *empty = message_new();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->pri, 0);  // defaults belong to the view, not the record
    message_delete(empty);
}

}  // namespace
