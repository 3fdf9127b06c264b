// Fuzzes the record views over decoded lists. The bytes are decoded as a
// TOC; the TOC view, and a segment and a message view of every element,
// must agree with a reader that makes one typed getter call per field in the
// documented order: the same message number and key when they raise, the
// same record bytes when they do not. Whatever the views build is freed, so
// leaks show.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "records/korvo_message.h"
#include "records/korvo_toc.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

namespace {

constexpr TypeCode kToc = TC_Vem_Korvo2__sequence_Properties_PropertiesList;

void check(bool condition) {
    if (!condition)
        std::abort();
}

// How a call ended: -1 when it returned, else the message number and key.
struct Outcome {
    int32_t number = -1;
    std::string key;
    bool operator==(const Outcome &) const = default;
};

template <typename Call>
Outcome outcome_of(Call call) {
    try {
        korvo::rt::Frame frame;
        call();
        return {};
    } catch (const korvo::rt::Exception &e) {
        const StringList *arguments = e.arguments();
        check(e.number() == 36 || e.number() == 37);
        check(arguments != nullptr && arguments->length == 1);
        return {e.number(), arguments->buffer[0]};
    }
}

void reference_segment(Properties *p, Segment &s) {
    s.id = properties_get_string(p, SEGMENT_ID_KEY);
    s.version = properties_get_string(p, SEGMENT_VERSION_KEY);
    s.location = properties_get_string2(p, SEGMENT_LOCATION_KEY, nullptr);
    s.size = properties_get_long2(p, SEGMENT_SIZE_KEY, 0);
    s.offset = properties_get_long2(p, SEGMENT_OFFSET_KEY, 0);
    s.ctime = properties_get_long2(p, SEGMENT_CTIME_KEY, 0);
    s.mtime = properties_get_long2(p, SEGMENT_MTIME_KEY, 0);
    s.checksum = properties_get_OctetList2(p, SEGMENT_CHECKSUM_KEY, nullptr);
    s.disposable = properties_get_boolean2(p, SEGMENT_DISPOSABLE_KEY, 0);
    s.is_result = properties_get_boolean2(p, SEGMENT_IS_RESULT_KEY, 0);
    s.is_collection = properties_get_boolean2(p, SEGMENT_IS_COLLECTION_KEY, 0);
    s.del_at_src = properties_get_boolean2(p, SEGMENT_DELETE_AT_SOURCE_KEY, 0);
    s.cds_manager = properties_get_string2(p, SEGMENT_CDS_MANAGER, nullptr);
    s.cds_packageid = properties_get_string2(p, SEGMENT_CDS_PACKAGEID, nullptr);
    s.cds_destination = properties_get_string2(p, SEGMENT_CDS_DESTINATION, nullptr);
    s.cds_username = properties_get_string2(p, SEGMENT_CDS_USERNAME, nullptr);
    s.cds_password = properties_get_string2(p, SEGMENT_CDS_PASSWORD, nullptr);
    s.properties = p;
}

void reference_message(Properties *p, Message &m) {
    m.app_id = properties_get_string2(p, MESSAGE_APPLICATION_ID_KEY, nullptr);
    m.type = properties_get_short(p, MESSAGE_TYPE_KEY);
    m.id = properties_get_string2(p, MESSAGE_ID_KEY, nullptr);
    m.label = properties_get_string2(p, MESSAGE_LABEL_KEY, nullptr);
    m.size = properties_get_long2(p, MESSAGE_SIZE_KEY, 0);
    m.pri = properties_get_short2(p, MESSAGE_PRIORITY_KEY, 3);
    m.deadline = properties_get_long2(p, MESSAGE_DEADLINE_KEY, 0);
    m.hidden = properties_get_boolean2(p, MESSAGE_HIDDEN_KEY, 0);
    m.depot_install_meth = properties_get_string2(p, MESSAGE_DEPOT_INSTALL_METHOD_KEY, nullptr);
    m.mand_date = properties_get_long2(p, MESSAGE_MANDATORY_DATE_KEY, 0);
    m.force_mandatory = properties_get_boolean2(p, MESSAGE_FORCE_MANDATORY_KEY, 1);
    m.recv_meth = properties_get_string(p, MESSAGE_RECV_METHOD_KEY);
    m.args = properties_get_any2(p, MESSAGE_ARGUMENTS_KEY, nullptr);
    m.cb_recv_meth = properties_get_string2(p, MESSAGE_CALLBACK_RECV_METHOD_KEY, nullptr);
    m.cb_target = properties_get_object2(p, MESSAGE_CALLBACK_TARGET_KEY, nullptr);
    m.notify_intv = properties_get_long2(p, MESSAGE_NOTIFY_INTERVAL_KEY, 0);
    m.data_source = properties_get_short2(p, MESSAGE_DATA_SOURCE_KEY, 1);
    m.target_action = properties_get_short2(p, MESSAGE_TARGET_ACTION_KEY, 1);
    m.real_target = properties_get_object2(p, MESSAGE_REAL_TARGET_KEY, nullptr);
    m.meth_context = properties_get_short2(p, MESSAGE_METHOD_CONTEXT_KEY, 2);
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
    m.roam_endpoints = properties_get_boolean2(p, MESSAGE_ROAM_ENDPOINTS_KEY, 1);
    m.wake_on_lan = properties_get_boolean2(p, MESSAGE_WOL_KEY, 0);
    m.mob_setup = properties_get_string2(p, MESSAGE_MOBILE_SETUP_METH_KEY, nullptr);
    m.image_dir = properties_get_string2(p, MESSAGE_DEPOT_IMAGE_DIR_KEY, nullptr);
    m.res_cb_timeout = properties_get_long2(p, MESSAGE_RESULT_CALLBACK_TIMEOUT_KEY, 0);
    m.bulk_checkpoint = properties_get_boolean2(p, MESSAGE_BULK_CHECKPOINT_KEY, 0);
    m.display_DEFERRED = properties_get_boolean2(p, MESSAGE_DISPLAY_DEFERRED_KEY, 0);
    m.prune_successful = properties_get_boolean2(p, MESSAGE_PRUNE_SUCCESSFUL_KEY, 0);
    m.prune_rewind = properties_get_long2(p, MESSAGE_PRUNE_REWIND_KEY, 0);
    m.properties = p;
}

// The view and the reference reader on one list: same outcome, and when
// both succeed the same bytes (records zeroed first, padding included).
template <typename Record, typename View, typename Reference, typename Free>
Outcome compare(Properties *list, View view, Reference reference, Free release) {
    Record *viewed = nullptr;
    const Outcome by_view = outcome_of([&] { viewed = view(list); });
    Record *expected = static_cast<Record *>(mg_calloc(1, sizeof(Record)));
    check(expected != nullptr);
    const Outcome by_reference = outcome_of([&] { reference(list, *expected); });
    check(by_view == by_reference);
    if (viewed != nullptr)
        check(std::memcmp(viewed, expected, sizeof(Record)) == 0);
    release(viewed);
    mg_free(expected);
    return by_view;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int registered = korvo_init();
    check(registered == 1);
    if (size > UINT32_MAX)
        return 0;
    PropertiesList list;
    AdrBuffer *reader = adr_init_decode_buffer(data, static_cast<uint32_t>(size));
    check(reader != nullptr);
    const int decoded = marshal_item(reader, kToc, &list);
    adr_free_buf(reader);
    if (!decoded)
        return 0;

    Outcome first_fault;
    for (uint32_t i = 0; i < list.length; ++i) {
        Properties *element = &list.buffer[i];
        const Outcome segment =
            compare<Segment>(element, segment_from_properties, reference_segment, mg_free);
        if (first_fault.number == -1)
            first_fault = segment;
        compare<Message>(element, message_from_properties, reference_message, message_free_buffer);
    }

    // The TOC view raises for its first faulty element, or views them all.
    Toc *toc = nullptr;
    check(outcome_of([&] { toc = toc_new_from_properties(&list); }) == first_fault);
    if (toc != nullptr) {
        check(toc->count == static_cast<int32_t>(list.length));
        for (int32_t i = 0; i < toc->count; ++i) {
            const Segment *segment = toc->segments[i];
            check(segment->properties == &toc->list->buffer[i]);
            const char *id = properties_get_string(&list.buffer[i], SEGMENT_ID_KEY);
            check((segment->id == nullptr) == (id == nullptr));
            check(id == nullptr || std::strcmp(segment->id, id) == 0);
        }
    }
    toc_delete(toc);
    properties_list_delete(&list);
    return 0;
}
