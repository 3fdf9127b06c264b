/* Messages: the typed view of the property list in which a distribution
 * reaches an endpoint method, with the service's defaults applied. Strings,
 * the `args` any and object references are not copies: they point into the
 * values of `properties` and live as long as that list.
 *
 * Each field is read from the key of the same name (korvo_keys.h) with the
 * type of the field: strings, ObjectRef for object references, Any * for
 * "args", int16_t for shorts, int32_t for longs, uint8_t for booleans.
 *   - "type" and "recv_meth" must exist: message 36 names the missing key.
 *   - Absent keys give 0 / NULL, except pri 3, force_mandatory 1,
 *     data_source 1, target_action 1, meth_context 2, roam_endpoints 1.
 *   - A value of another type raises message 37 with the key.
 * The keys are read in this order, so when several are faulty the first of
 * them raises: app_id, type, id, label, size, pri, deadline, hidden,
 * depot_install_meth, mand_date, force_mandatory, recv_meth, args,
 * cb_recv_meth, cb_target, notify_intv, data_source, target_action,
 * real_target, meth_context, bulk_data_flag, send_timeout, result_timeout,
 * parent_dist_id, is_result, repeater_multicast, endpoint_multicast,
 * ds_send_job, cds_send_job, is_cds, cds_mc_url, cds_username, cds_type,
 * cntl_dist_id, cbe_dist_id, cntl_target_oid, is_exclusive, is_roam,
 * roam_endpoints, wake_on_lan, mob_setup, image_dir, res_cb_timeout,
 * bulk_checkpoint, display_DEFERRED, prune_successful, prune_rewind.
 *
 * Ownership: message_new, message_from_properties and
 * message_new_from_properties return a new mg block that the caller owns.
 *   - A message_from_properties view borrows the list: release it with
 *     message_free_buffer, which leaves the list alone.
 *   - A message_new_from_properties record owns a deep copy of the list:
 *     release it with message_delete, which frees the copy too.
 * Failures are raised (raise.h): messages 36 and 37 as above, deep-copy
 * failures as the runtime reports them, exhausted memory as a runtime
 * error. Nothing is left allocated when a function raises.
 *
 * Threads: a Message is used by one thread at a time, as the list it views.
 */
#ifndef KORVO_RECORDS_KORVO_MESSAGE_H
#define KORVO_RECORDS_KORVO_MESSAGE_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"
#include "runtime/stypes.h"

KORVO_BEGIN_DECLS

typedef struct Message {
    Properties *properties;
    char *app_id;
    int16_t type;
    char *id;
    char *label;
    int16_t pri;
    int32_t size;
    int32_t deadline;
    int32_t mand_date;
    uint8_t force_mandatory;
    char *recv_meth;
    Any *args;
    char *cb_recv_meth;
    ObjectRef cb_target;
    int32_t notify_intv;
    int16_t data_source;
    int16_t target_action;
    ObjectRef real_target;
    int16_t meth_context;
    uint8_t bulk_data_flag;
    int32_t send_timeout;
    int32_t result_timeout;
    char *parent_dist_id;
    uint8_t is_result;
    char *cntl_dist_id;
    char *cbe_dist_id;
    ObjectRef cntl_target_oid;
    uint8_t is_exclusive;
    uint8_t roam_endpoints;
    uint8_t is_roam;
    uint8_t wake_on_lan;
    uint8_t hidden;
    char *depot_install_meth;
    char *mob_setup;
    char *image_dir;
    int32_t res_cb_timeout;
    uint8_t repeater_multicast;
    uint8_t endpoint_multicast;
    uint8_t ds_send_job;
    uint8_t bulk_checkpoint;
    uint8_t display_DEFERRED;
    uint8_t prune_successful;
    int32_t prune_rewind;
    uint8_t is_cds;
    uint8_t cds_send_job;
    char *cds_mc_url;
    char *cds_username;
    char *cds_type;
} Message;

/* A zeroed record, or NULL when memory is exhausted. */
KORVO_EXPORT Message *message_new(void);

/* A view that borrows `properties`; `properties` is stored in the record
 * once every field has been read. NULL for NULL. */
KORVO_EXPORT Message *message_from_properties(Properties *properties);

/* A view over a deep copy of `properties`, which the record owns; the
 * caller's list is not touched. NULL for NULL. */
KORVO_EXPORT Message *message_new_from_properties(const Properties *properties);

/* Frees the record's properties with everything they hold (when set) and
 * clears the field, then frees the record. For records that own their
 * properties. NULL is ignored. */
KORVO_EXPORT void message_delete(Message *message);

/* Frees the record only; its properties stay with their owner. NULL is
 * ignored. */
KORVO_EXPORT void message_free_buffer(Message *message);

/* Does nothing: messages are not logged. */
KORVO_EXPORT void message_log(const Message *message);

KORVO_END_DECLS

#endif
