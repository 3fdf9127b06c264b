// Message views: reading a message's fields from its property list with the
// service's defaults, and the records that own a copy of their list.
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/korvo_message.h"
#include "records/records_internal.hpp"

using korvo::records::new_record;
using korvo::records::OwnedProperties;

namespace {

// Defaults of the service for keys a message may leave out.
constexpr int16_t kDefaultPriority = 3;
constexpr uint8_t kDefaultForceMandatory = 1;
constexpr int16_t kDefaultDataSource = 1;
constexpr int16_t kDefaultTargetAction = 1;
constexpr int16_t kDefaultMethodContext = 2;
constexpr uint8_t kDefaultRoamEndpoints = 1;

// Reads every field; the reading order decides which of several faulty keys
// raises first. Keys whose absence leaves a field zero are read with a zero
// default, which also checks their type only when they are present.
void read_fields(Message &m, const Properties *p) {
    m.app_id = properties_get_string2(p, MESSAGE_APPLICATION_ID_KEY, nullptr);
    m.type = properties_get_short(p, MESSAGE_TYPE_KEY);
    m.id = properties_get_string2(p, MESSAGE_ID_KEY, nullptr);
    m.label = properties_get_string2(p, MESSAGE_LABEL_KEY, nullptr);
    m.size = properties_get_long2(p, MESSAGE_SIZE_KEY, 0);
    m.pri = properties_get_short2(p, MESSAGE_PRIORITY_KEY, kDefaultPriority);
    m.deadline = properties_get_long2(p, MESSAGE_DEADLINE_KEY, 0);
    m.hidden = properties_get_boolean2(p, MESSAGE_HIDDEN_KEY, 0);
    m.depot_install_meth = properties_get_string2(p, MESSAGE_DEPOT_INSTALL_METHOD_KEY, nullptr);
    m.mand_date = properties_get_long2(p, MESSAGE_MANDATORY_DATE_KEY, 0);
    m.force_mandatory =
        properties_get_boolean2(p, MESSAGE_FORCE_MANDATORY_KEY, kDefaultForceMandatory);
    m.recv_meth = properties_get_string(p, MESSAGE_RECV_METHOD_KEY);
    m.args = properties_get_any2(p, MESSAGE_ARGUMENTS_KEY, nullptr);
    m.cb_recv_meth = properties_get_string2(p, MESSAGE_CALLBACK_RECV_METHOD_KEY, nullptr);
    m.cb_target = properties_get_object2(p, MESSAGE_CALLBACK_TARGET_KEY, nullptr);
    m.notify_intv = properties_get_long2(p, MESSAGE_NOTIFY_INTERVAL_KEY, 0);
    m.data_source = properties_get_short2(p, MESSAGE_DATA_SOURCE_KEY, kDefaultDataSource);
    m.target_action = properties_get_short2(p, MESSAGE_TARGET_ACTION_KEY, kDefaultTargetAction);
    m.real_target = properties_get_object2(p, MESSAGE_REAL_TARGET_KEY, nullptr);
    m.meth_context = properties_get_short2(p, MESSAGE_METHOD_CONTEXT_KEY, kDefaultMethodContext);
    m.bulk_data_flag = properties_get_boolean2(p, MESSAGE_BULK_DATA_FLAG_KEY, 0);
    m.send_timeout = properties_get_long2(p, MESSAGE_SEND_TIMEOUT_KEY, 0);
    m.result_timeout = properties_get_long2(p, MESSAGE_RESULT_TIMEOUT_KEY, 0);
    m.parent_dist_id = properties_get_string2(p, MESSAGE_PARENT_DIST_ID_KEY, nullptr);
    m.is_result = properties_get_boolean2(p, MESSAGE_IS_RESULT_KEY, 0);
    m.repeater_multicast = properties_get_boolean2(p, MESSAGE_REPEATER_MULTICAST_KEY, 0);
    m.endpoint_multicast = properties_get_boolean2(p, MESSAGE_ENDPOINT_MULTICAST_KEY, 0);
    m.ds_send_job = properties_get_boolean2(p, MESSAGE_DS_SEND_JOB_KEY, 0);
    m.cds_send_job = properties_get_boolean2(p, MESSAGE_CDS_SEND_JOB_KEY, 0);
    m.is_cds = properties_get_boolean2(p, MESSAGE_IS_CDS_KEY, 0);
    m.cds_mc_url = properties_get_string2(p, MESSAGE_CDS_MC_URL_KEY, nullptr);
    m.cds_username = properties_get_string2(p, MESSAGE_CDS_USERNAME_KEY, nullptr);
    m.cds_type = properties_get_string2(p, MESSAGE_CDS_TYPE_KEY, nullptr);
    m.cntl_dist_id = properties_get_string2(p, MESSAGE_CONTROL_DIST_ID_KEY, nullptr);
    m.cbe_dist_id = properties_get_string2(p, MESSAGE_CBE_DIST_ID_KEY, nullptr);
    m.cntl_target_oid = properties_get_object2(p, MESSAGE_CONTROL_TARGET_KEY, nullptr);
    m.is_exclusive = properties_get_boolean2(p, MESSAGE_IS_EXCLUSIVE_KEY, 0);
    m.is_roam = properties_get_boolean2(p, MESSAGE_IS_ROAM_KEY, 0);
    m.roam_endpoints =
        properties_get_boolean2(p, MESSAGE_ROAM_ENDPOINTS_KEY, kDefaultRoamEndpoints);
    m.wake_on_lan = properties_get_boolean2(p, MESSAGE_WOL_KEY, 0);
    m.mob_setup = properties_get_string2(p, MESSAGE_MOBILE_SETUP_METH_KEY, nullptr);
    m.image_dir = properties_get_string2(p, MESSAGE_DEPOT_IMAGE_DIR_KEY, nullptr);
    m.res_cb_timeout = properties_get_long2(p, MESSAGE_RESULT_CALLBACK_TIMEOUT_KEY, 0);
    m.bulk_checkpoint = properties_get_boolean2(p, MESSAGE_BULK_CHECKPOINT_KEY, 0);
    m.display_DEFERRED = properties_get_boolean2(p, MESSAGE_DISPLAY_DEFERRED_KEY, 0);
    m.prune_successful = properties_get_boolean2(p, MESSAGE_PRUNE_SUCCESSFUL_KEY, 0);
    m.prune_rewind = properties_get_long2(p, MESSAGE_PRUNE_REWIND_KEY, 0);
}

}  // namespace

extern "C" {

Message *message_new(void) {
    return static_cast<Message *>(mg_calloc(1, sizeof(Message)));
}

Message *message_from_properties(Properties *properties) {
    if (properties == nullptr)
        return nullptr;
    auto message = new_record<Message>("Message");
    read_fields(*message, properties);
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
