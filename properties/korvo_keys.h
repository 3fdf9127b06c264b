/* The well-known keys of korvo property lists: one exported, constant string
 * pointer per key, shared by every program of the service so that callers name
 * keys by symbol and never spell them. The strings are static; nobody frees
 * them.
 *
 * Segment keys come first, then the job's TOC key, node keys, result keys and
 * message keys. Several symbols share a string ("id", "size", "is_result",
 * "data_path", "cds_username"). MESSAGE_INVALID_DIST_ID is not a key but the
 * text that stands for a distribution id that is not valid.
 *
 * The list is written once, as KORVO_KEY(symbol, "text") lines, and expanded
 * here into declarations and in the library into definitions.
 *
 * Threads: the key names are constant; any thread may read them.
 */
#ifndef KORVO_PROPERTIES_KORVO_KEYS_H
#define KORVO_PROPERTIES_KORVO_KEYS_H

#include "runtime/korvo_export.h"

#define KORVO_KEY_LIST(KORVO_KEY) \
    KORVO_KEY(SEGMENT_ID_KEY, "id") \
    KORVO_KEY(SEGMENT_VERSION_KEY, "version") \
    KORVO_KEY(SEGMENT_HOSTNAME_KEY, "hostname") \
    KORVO_KEY(SEGMENT_CHECKSUM_KEY, "checksum") \
    KORVO_KEY(SEGMENT_CTIME_KEY, "ctime") \
    KORVO_KEY(SEGMENT_MTIME_KEY, "mtime") \
    KORVO_KEY(SEGMENT_LOCATION_KEY, "location") \
    KORVO_KEY(SEGMENT_DATA_PATH_KEY, "data_path") \
    KORVO_KEY(SEGMENT_DAT_FILE_KEY, "dat_file") \
    KORVO_KEY(SEGMENT_OFFSET_KEY, "offset") \
    KORVO_KEY(SEGMENT_SIZE_KEY, "size") \
    KORVO_KEY(SEGMENT_DISPOSABLE_KEY, "disposable") \
    KORVO_KEY(SEGMENT_IS_RESULT_KEY, "is_result") \
    KORVO_KEY(SEGMENT_IS_COLLECTION_KEY, "is_collection") \
    KORVO_KEY(SEGMENT_DELETE_AT_SOURCE_KEY, "del_at_src") \
    KORVO_KEY(SEGMENT_HAS_SIZE_KEY, "has_size") \
    KORVO_KEY(SEGMENT_DATA_BY_REFERENCE_KEY, "data_by_reference") \
    KORVO_KEY(SEGMENT_CDS_MANAGER, "cds_manager") \
    KORVO_KEY(SEGMENT_CDS_PACKAGEID, "cds_packageid") \
    KORVO_KEY(SEGMENT_CDS_DESTINATION, "cds_destination") \
    KORVO_KEY(SEGMENT_CDS_USERNAME, "cds_username") \
    KORVO_KEY(SEGMENT_CDS_PASSWORD, "cds_password") \
    KORVO_KEY(SEGMENT_CDS_DEFERRED, "cds_deferred") \
    KORVO_KEY(JOB_TOC_KEY, "j_toc") \
    KORVO_KEY(NODE_STATE_KEY, "n_state") \
    KORVO_KEY(NODE_NEW_JOBS_KEY, "n_njobs") \
    KORVO_KEY(NODE_IS_MOBILE_KEY, "n_is_mob") \
    KORVO_KEY(NODE_DIST_PAUSED_GW_DOWN_KEY, "n_d_paused") \
    KORVO_KEY(NODE_COMMAND_KEY, "n_command") \
    KORVO_KEY(NODE_SENT_HI_KEY, "n_sent_hi") \
    KORVO_KEY(NODE_TOTAL_HI_KEY, "n_total_hi") \
    KORVO_KEY(NODE_SENT_KEY, "n_sent") \
    KORVO_KEY(NODE_TOTAL_KEY, "n_total") \
    KORVO_KEY(RESULT_SOURCE_KEY, "r_src") \
    KORVO_KEY(RESULT_LABEL_KEY, "r_label") \
    KORVO_KEY(RESULT_RPT_SOURCE_KEY, "r_rpt_src") \
    KORVO_KEY(RESULT_IS_EXCEPTION_KEY, "r_is_ex") \
    KORVO_KEY(RESULT_VALUE_KEY, "r_val") \
    KORVO_KEY(RESULT_HAS_BULK_DATA_KEY, "r_bulk") \
    KORVO_KEY(RESULT_STATE_KEY, "r_s") \
    KORVO_KEY(RESULT_START_TIME_KEY, "r_st") \
    KORVO_KEY(RESULT_FINISH_TIME_KEY, "r_ft") \
    KORVO_KEY(RESULT_WAITING_TIME_KEY, "r_wt") \
    KORVO_KEY(RESULT_PAUSED_TIME_KEY, "r_pt") \
    KORVO_KEY(RESULT_UNAVAILABLE_TIME_KEY, "r_ut") \
    KORVO_KEY(RESULT_RECEIVING_TIME_KEY, "r_rt") \
    KORVO_KEY(RESULT_INTERRUPTED_TIME_KEY, "r_it") \
    KORVO_KEY(RESULT_SENDING_TIME_KEY, "r_et") \
    KORVO_KEY(RESULT_INTERRUPTION_COUNT_KEY, "r_ic") \
    KORVO_KEY(RESULT_IS_FLUSHED_KEY, "r_flsd") \
    KORVO_KEY(MESSAGE_APPLICATION_ID_KEY, "app_id") \
    KORVO_KEY(MESSAGE_TYPE_KEY, "type") \
    KORVO_KEY(MESSAGE_USER_ID_KEY, "u_id") \
    KORVO_KEY(MESSAGE_ID_KEY, "id") \
    KORVO_KEY(MESSAGE_LABEL_KEY, "label") \
    KORVO_KEY(MESSAGE_SIZE_KEY, "size") \
    KORVO_KEY(MESSAGE_PRIORITY_KEY, "pri") \
    KORVO_KEY(MESSAGE_DEADLINE_KEY, "deadline") \
    KORVO_KEY(MESSAGE_HIDDEN_KEY, "hidden") \
    KORVO_KEY(MESSAGE_MANDATORY_DATE_KEY, "mand_date") \
    KORVO_KEY(MESSAGE_FORCE_MANDATORY_KEY, "force_mandatory") \
    KORVO_KEY(MESSAGE_MOBILE_NOTE_KEY, "mobile_note") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_0, "escalate_msg.0") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_1, "escalate_msg.1") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_2, "escalate_msg.2") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_3, "escalate_msg.3") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_4, "escalate_msg.4") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_5, "escalate_msg.5") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_6, "escalate_msg.6") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_7, "escalate_msg.7") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_8, "escalate_msg.8") \
    KORVO_KEY(MESSAGE_ESCALATE_MSG_KEY_9, "escalate_msg.9") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_0, "escalate_date.0") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_1, "escalate_date.1") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_2, "escalate_date.2") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_3, "escalate_date.3") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_4, "escalate_date.4") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_5, "escalate_date.5") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_6, "escalate_date.6") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_7, "escalate_date.7") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_8, "escalate_date.8") \
    KORVO_KEY(MESSAGE_ESCALATE_DATE_KEY_9, "escalate_date.9") \
    KORVO_KEY(MESSAGE_FAIL_UNAVAILABLE_KEY, "fail_unavail") \
    KORVO_KEY(MESSAGE_RECV_METHOD_KEY, "recv_meth") \
    KORVO_KEY(MESSAGE_DEPOT_INSTALL_METHOD_KEY, "depot_install_meth") \
    KORVO_KEY(MESSAGE_DEPOT_ARGS_KEY, "depot_args") \
    KORVO_KEY(MESSAGE_EP_DEPOT_KEY, "ep_depot") \
    KORVO_KEY(MESSAGE_ARGUMENTS_KEY, "args") \
    KORVO_KEY(MESSAGE_CALLBACK_RECV_METHOD_KEY, "cb_recv_meth") \
    KORVO_KEY(MESSAGE_NOTIFY_INTERVAL_KEY, "notify_intv") \
    KORVO_KEY(MESSAGE_CALLBACK_TARGET_KEY, "cb_target") \
    KORVO_KEY(MESSAGE_DATA_SOURCE_KEY, "data_source") \
    KORVO_KEY(MESSAGE_DATA_PATH_KEY, "data_path") \
    KORVO_KEY(MESSAGE_TARGET_ACTION_KEY, "target_action") \
    KORVO_KEY(MESSAGE_IS_MULTICAST_KEY, "is_multicast") \
    KORVO_KEY(MESSAGE_REAL_TARGET_KEY, "real_target") \
    KORVO_KEY(MESSAGE_REAL_TARGET_LABEL, "real_target_label") \
    KORVO_KEY(MESSAGE_REAL_TARGET_UNIQUE_ID, "real_target_unique_id") \
    KORVO_KEY(MESSAGE_METHOD_CONTEXT_KEY, "meth_context") \
    KORVO_KEY(MESSAGE_BULK_DATA_FLAG_KEY, "bulk_data_flag") \
    KORVO_KEY(MESSAGE_SEND_TIMEOUT_KEY, "send_timeout") \
    KORVO_KEY(MESSAGE_RESULT_TIMEOUT_KEY, "result_timeout") \
    KORVO_KEY(MESSAGE_DIST_MGR_KEY, "dist_mgr") \
    KORVO_KEY(MESSAGE_PARENT_DIST_ID_KEY, "parent_dist_id") \
    KORVO_KEY(MESSAGE_IS_RESULT_KEY, "is_result") \
    KORVO_KEY(MESSAGE_RPT_CHAIN_KEY, "rpt_chain") \
    KORVO_KEY(MESSAGE_RPT_CHAIN_2_KEY, "rpt_chain_2") \
    KORVO_KEY(MESSAGE_CONTROL_DIST_ID_KEY, "cntl_dist_id") \
    KORVO_KEY(MESSAGE_CBE_DIST_ID_KEY, "cbe_dist_id") \
    KORVO_KEY(MESSAGE_CONTROL_TARGET_KEY, "cntl_target_oid") \
    KORVO_KEY(MESSAGE_IS_EXCLUSIVE_KEY, "is_exclusive") \
    KORVO_KEY(MESSAGE_RESULTS_KEY, "results") \
    KORVO_KEY(MESSAGE_EXCEPTION_KEY, "exception") \
    KORVO_KEY(MESSAGE_SEGMENT_FILE_LIST_KEY, "segs") \
    KORVO_KEY(MESSAGE_IS_ROAM_KEY, "is_roam") \
    KORVO_KEY(MESSAGE_ROAM_ENDPOINTS_KEY, "roam_endpoints") \
    KORVO_KEY(MESSAGE_WOL_KEY, "wake_on_lan") \
    KORVO_KEY(MESSAGE_MOBILE_SETUP_METH_KEY, "mob_setup") \
    KORVO_KEY(MESSAGE_DEPOT_IMAGE_DIR_KEY, "image_dir") \
    KORVO_KEY(MESSAGE_COMMAND_CANCEL_KEY, "cmd_cancel") \
    KORVO_KEY(MESSAGE_COMMAND_PAUSE_KEY, "cmd_pause") \
    KORVO_KEY(MESSAGE_RESULT_CALLBACK_TIMEOUT_KEY, "res_cb_timeout") \
    KORVO_KEY(MESSAGE_REPEATER_MULTICAST_KEY, "repeater_multicast") \
    KORVO_KEY(MESSAGE_ENDPOINT_MULTICAST_KEY, "endpoint_multicast") \
    KORVO_KEY(MESSAGE_BYPASS_ROUTE_KEY, "bypass_route") \
    KORVO_KEY(MESSAGE_DS_SEND_JOB_KEY, "ds_send_job") \
    KORVO_KEY(MESSAGE_VALIDATE_DB_CONN_KEY, "dist_validate_db_conn") \
    KORVO_KEY(MESSAGE_ENDPOINT_TYPE_KEY, "endpoint_type") \
    KORVO_KEY(MESSAGE_USER_CAN_REJECT_KEY, "user_can_reject") \
    KORVO_KEY(MESSAGE_USER_INITIATED_KEY, "user_initiated") \
    KORVO_KEY(MESSAGE_BULK_CHECKPOINT_KEY, "bulk_checkpoint") \
    KORVO_KEY(MESSAGE_IS_MULTISTART_KEY, "is_multistart") \
    KORVO_KEY(MESSAGE_PENDING_CANCEL_KEY, "pending_cancel") \
    KORVO_KEY(MESSAGE_CDS_TARGET_LIST_KEY, "cds_target_list") \
    KORVO_KEY(MESSAGE_IS_CDS_KEY, "is_cds") \
    KORVO_KEY(MESSAGE_CDS_SEND_JOB_KEY, "cds_send_job") \
    KORVO_KEY(MESSAGE_CDS_MC_URL_KEY, "cds_mc_url") \
    KORVO_KEY(MESSAGE_CDS_USERNAME_KEY, "cds_username") \
    KORVO_KEY(MESSAGE_CDS_TYPE_KEY, "cds_type") \
    KORVO_KEY(MESSAGE_DISPLAY_DEFERRED_KEY, "display_DEFERRED") \
    KORVO_KEY(MESSAGE_PRUNE_SUCCESSFUL_KEY, "prune_successful") \
    KORVO_KEY(MESSAGE_PRUNE_REWIND_KEY, "prune_rewind") \
    KORVO_KEY(MESSAGE_INVALID_DIST_ID, "<invalid id>")

KORVO_BEGIN_DECLS

#define KORVO_DECLARE_KEY(symbol, text) KORVO_EXPORT extern const char *const symbol;
KORVO_KEY_LIST(KORVO_DECLARE_KEY)
#undef KORVO_DECLARE_KEY

KORVO_END_DECLS

#endif
