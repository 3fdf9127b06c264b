// Message views: reading a message's fields from its property list with the
// service's defaults, and the records that own a copy of their list.
#include <cstddef>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/field_reader.hpp"
#include "records/korvo_message.h"
#include "records/records_internal.hpp"

using korvo::records::FieldKind;
using korvo::records::FieldSpec;
using korvo::records::FieldTable;
using korvo::records::new_record;
using korvo::records::OwnedProperties;

namespace {

// Values of the service for keys a message leaves out that are not zero.
constexpr int32_t kDefaultPriority = 3;
constexpr int32_t kDefaultForceMandatory = 1;
constexpr int32_t kDefaultDataSource = 1;
constexpr int32_t kDefaultTargetAction = 1;
constexpr int32_t kDefaultMethodContext = 2;
constexpr int32_t kDefaultRoamEndpoints = 1;

// clang-format off
#define MESSAGE_FIELD(field, key, kind, absent) \
    FieldSpec{&key, FieldKind::kind, false, offsetof(Message, field), absent}
#define MESSAGE_REQUIRED(field, key, kind) \
    FieldSpec{&key, FieldKind::kind, true, offsetof(Message, field), 0}
// clang-format on

// The fields in the order their keys are read: when several keys are faulty,
// the first of them raises. A key whose absence leaves its field zero is
// type-checked only when present.
constexpr FieldSpec kMessageFields[] = {
    MESSAGE_FIELD(app_id, MESSAGE_APPLICATION_ID_KEY, String, 0),
    MESSAGE_REQUIRED(type, MESSAGE_TYPE_KEY, Short),
    MESSAGE_FIELD(id, MESSAGE_ID_KEY, String, 0),
    MESSAGE_FIELD(label, MESSAGE_LABEL_KEY, String, 0),
    MESSAGE_FIELD(size, MESSAGE_SIZE_KEY, Long, 0),
    MESSAGE_FIELD(pri, MESSAGE_PRIORITY_KEY, Short, kDefaultPriority),
    MESSAGE_FIELD(deadline, MESSAGE_DEADLINE_KEY, Long, 0),
    MESSAGE_FIELD(hidden, MESSAGE_HIDDEN_KEY, Boolean, 0),
    MESSAGE_FIELD(depot_install_meth, MESSAGE_DEPOT_INSTALL_METHOD_KEY, String, 0),
    MESSAGE_FIELD(mand_date, MESSAGE_MANDATORY_DATE_KEY, Long, 0),
    MESSAGE_FIELD(force_mandatory, MESSAGE_FORCE_MANDATORY_KEY, Boolean, kDefaultForceMandatory),
    MESSAGE_REQUIRED(recv_meth, MESSAGE_RECV_METHOD_KEY, String),
    MESSAGE_FIELD(args, MESSAGE_ARGUMENTS_KEY, Any, 0),
    MESSAGE_FIELD(cb_recv_meth, MESSAGE_CALLBACK_RECV_METHOD_KEY, String, 0),
    MESSAGE_FIELD(cb_target, MESSAGE_CALLBACK_TARGET_KEY, Object, 0),
    MESSAGE_FIELD(notify_intv, MESSAGE_NOTIFY_INTERVAL_KEY, Long, 0),
    MESSAGE_FIELD(data_source, MESSAGE_DATA_SOURCE_KEY, Short, kDefaultDataSource),
    MESSAGE_FIELD(target_action, MESSAGE_TARGET_ACTION_KEY, Short, kDefaultTargetAction),
    MESSAGE_FIELD(real_target, MESSAGE_REAL_TARGET_KEY, Object, 0),
    MESSAGE_FIELD(meth_context, MESSAGE_METHOD_CONTEXT_KEY, Short, kDefaultMethodContext),
    MESSAGE_FIELD(bulk_data_flag, MESSAGE_BULK_DATA_FLAG_KEY, Boolean, 0),
    MESSAGE_FIELD(send_timeout, MESSAGE_SEND_TIMEOUT_KEY, Long, 0),
    MESSAGE_FIELD(result_timeout, MESSAGE_RESULT_TIMEOUT_KEY, Long, 0),
    MESSAGE_FIELD(parent_dist_id, MESSAGE_PARENT_DIST_ID_KEY, String, 0),
    MESSAGE_FIELD(is_result, MESSAGE_IS_RESULT_KEY, Boolean, 0),
    MESSAGE_FIELD(repeater_multicast, MESSAGE_REPEATER_MULTICAST_KEY, Boolean, 0),
    MESSAGE_FIELD(endpoint_multicast, MESSAGE_ENDPOINT_MULTICAST_KEY, Boolean, 0),
    MESSAGE_FIELD(ds_send_job, MESSAGE_DS_SEND_JOB_KEY, Boolean, 0),
    MESSAGE_FIELD(cds_send_job, MESSAGE_CDS_SEND_JOB_KEY, Boolean, 0),
    MESSAGE_FIELD(is_cds, MESSAGE_IS_CDS_KEY, Boolean, 0),
    MESSAGE_FIELD(cds_mc_url, MESSAGE_CDS_MC_URL_KEY, String, 0),
    MESSAGE_FIELD(cds_username, MESSAGE_CDS_USERNAME_KEY, String, 0),
    MESSAGE_FIELD(cds_type, MESSAGE_CDS_TYPE_KEY, String, 0),
    MESSAGE_FIELD(cntl_dist_id, MESSAGE_CONTROL_DIST_ID_KEY, String, 0),
    MESSAGE_FIELD(cbe_dist_id, MESSAGE_CBE_DIST_ID_KEY, String, 0),
    MESSAGE_FIELD(cntl_target_oid, MESSAGE_CONTROL_TARGET_KEY, Object, 0),
    MESSAGE_FIELD(is_exclusive, MESSAGE_IS_EXCLUSIVE_KEY, Boolean, 0),
    MESSAGE_FIELD(is_roam, MESSAGE_IS_ROAM_KEY, Boolean, 0),
    MESSAGE_FIELD(roam_endpoints, MESSAGE_ROAM_ENDPOINTS_KEY, Boolean, kDefaultRoamEndpoints),
    MESSAGE_FIELD(wake_on_lan, MESSAGE_WOL_KEY, Boolean, 0),
    MESSAGE_FIELD(mob_setup, MESSAGE_MOBILE_SETUP_METH_KEY, String, 0),
    MESSAGE_FIELD(image_dir, MESSAGE_DEPOT_IMAGE_DIR_KEY, String, 0),
    MESSAGE_FIELD(res_cb_timeout, MESSAGE_RESULT_CALLBACK_TIMEOUT_KEY, Long, 0),
    MESSAGE_FIELD(bulk_checkpoint, MESSAGE_BULK_CHECKPOINT_KEY, Boolean, 0),
    MESSAGE_FIELD(display_DEFERRED, MESSAGE_DISPLAY_DEFERRED_KEY, Boolean, 0),
    MESSAGE_FIELD(prune_successful, MESSAGE_PRUNE_SUCCESSFUL_KEY, Boolean, 0),
    MESSAGE_FIELD(prune_rewind, MESSAGE_PRUNE_REWIND_KEY, Long, 0),
};

#undef MESSAGE_FIELD
#undef MESSAGE_REQUIRED

}  // namespace

extern "C" {

Message *message_new(void) {
    return static_cast<Message *>(mg_calloc(1, sizeof(Message)));
}

Message *message_from_properties(Properties *properties) {
    if (properties == nullptr)
        return nullptr;
    auto message = new_record<Message>("Message");
    static const FieldTable table(kMessageFields);
    table.read(properties, message.get());
    message->properties = properties;
    return message.release();
}

Message *message_new_from_properties(const Properties *properties) {
    if (properties == nullptr)
        return nullptr;
    OwnedProperties copy(properties_clone(properties));
    Message *message = message_from_properties(copy.get());
    copy.release();  // now the message's
    return message;
}

void message_delete(Message *message) {
    if (message == nullptr)
        return;
    OwnedProperties owned(message->properties);
    message->properties = nullptr;
    mg_free(message);
}

void message_free_buffer(Message *message) {
    mg_free(message);
}

void message_log(const Message *) {}
}
