/* C callers of the property lists and the korvo exceptions: a raise passes
 * through these C frames and C code catches it with the runtime's adapter. */
#include <string.h>

#include "properties/errors/korvo_catalog.h"
#include "properties/errors/korvo_exceptions.h"
#include "properties/korvo_properties.h"
#include "runtime/generic.h"
#include "runtime/mg_memory.h"

static void copy_text(const EhException *caught, char *text, size_t size) {
    strncpy(text, eh_exception_text(caught), size - 1);
    text[size - 1] = '\0';
}

static void raise_deferred(void *context) {
    ExDistributionDeferred template_record;
    memset(&template_record, 0, sizeof template_record);
    template_record.defer_time = *(const int32_t *)context;
    vaMThrowChild(KORVO_EXCEPTION_CHILD_CHAIN("ExDistributionDeferred"), &template_record,
                  sizeof template_record, Korvo2Catalog[0], KORVO_MSG_CDS_DEPOT_BUSY,
                  Korvo2Catalog[KORVO_MSG_CDS_DEPOT_BUSY], "pkg", template_record.defer_time);
}

/* Raises a deferral and catches it; the message number, or -1 when nothing
 * or something else was caught. */
int c_raise_deferred(int32_t seconds, int32_t *defer_time, char *text, size_t size) {
    EhException *caught = eh_catch_call(raise_deferred, &seconds);
    int number = -1;
    if (caught == NULL)
        return -1;
    if (eh_exception_is_a(caught, KORVO_EXCEPTION_CHILD_CHAIN("ExDistributionDeferred")) &&
        eh_exception_type(caught) == TC_Vem_Korvo2_ExDistributionDeferred) {
        const ExDistributionDeferred *record = eh_exception_record(caught);
        *defer_time = record->defer_time;
        number = eh_exception_number(caught);
        copy_text(caught, text, size);
    }
    eh_exception_free(caught);
    return number;
}

static void read_size(void *context) {
    Properties *list = context;
    properties_put_string_dup(list, "id", "seg1");
    (void)properties_get_long(list, "size");
}

/* A must-exist get of a missing key, caught in C. */
int c_missing_key(char *text, size_t size) {
    Properties *list = properties_new();
    EhException *caught = eh_catch_call(read_size, list);
    int number = -1;
    if (caught != NULL && eh_exception_is_a(caught, EH_ERROR_CHAIN)) {
        number = eh_exception_number(caught);
        copy_text(caught, text, size);
    }
    eh_exception_free(caught);
    properties_delete(list);
    mg_free(list);
    return number;
}

/* Removes a property and frees it as korvo_properties.h says: its key and
 * value with vem_free_generic, then the block. The number of properties
 * left, or -1 when the removal failed. */
int c_remove_and_free(void) {
    Properties *list = properties_new();
    Property *removed;
    int left;
    properties_put_string_dup(list, "id", "seg1");
    properties_put_long_dup(list, "size", 42);
    removed = properties_remove(list, "id");
    if (removed == NULL || strcmp(removed->key, "id") != 0)
        return -1;
    vem_free_generic(removed, TC_Vem_Korvo2_Property);
    mg_free(removed);
    left = (int)list->length;
    properties_delete(list);
    mg_free(list);
    return left;
}
