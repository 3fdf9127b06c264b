// Putting properties: properties_put takes over a value cell and replaces
// the first property with the same key in place, or appends; the typed
// putters name the type, and the _dup putters first copy the caller's value
// into a fresh cell.
#include "properties/korvo_properties.h"
#include "properties/properties_internal.hpp"
#include "runtime/generic.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

using korvo::props::find_property;

namespace {

// Frees an any's cell with its contents.
void free_any(TypeCode type, void *value) {
    Any any{type, value};
    vem_free_generic(&any, TC_any);
}

// A fresh cell holding a deep copy of `source`, a value of `type`; a failed
// copy is raised as the runtime reports it.
void *copied_cell(TypeCode type, const void *source) {
    korvo::rt::MgPtr<void> cell(mg_calloc(1, type->size));
    if (cell == nullptr)
        vaThrow(nullptr, -1, "Not enough memory to copy a value of type %1$s.\n", type->name);
    Env env{};
    if (!_t_generic_copy(type, &env, source, cell.get()))
        ev_to_exception(&env);
    return cell.release();
}

int32_t put_copy(Properties *list, const char *key, TypeCode type, const void *source) {
    return properties_put(list, key, type, copied_cell(type, source));
}

}  // namespace

extern "C" {

int32_t properties_put(Properties *list, const char *key, TypeCode type, void *value) {
    if (list == nullptr || key == nullptr) {
        free_any(type, value);
        return -1;
    }
    char *key_copy = mg_strdup(key);
    if (key_copy == nullptr) {
        free_any(type, value);
        vaThrow(nullptr, -1, "Not enough memory to store the property %1$s.\n", key);
    }
    Property fresh{key_copy, Any{type, value}};
    if (Property *slot = find_property(list, key)) {
        const Property old = *slot;
        *slot = fresh;
        mg_free(old.key);
        // Putting back the cell a getter handed out keeps it alive.
        if (old.value.value != value)
            free_any(old.value.type, old.value.value);
        return static_cast<int32_t>(slot - list->buffer);
    }
    const int32_t index = seq_add(list, &fresh, sizeof fresh);
    if (index < 0) {
        mg_free(key_copy);
        free_any(type, value);
        vaThrow(nullptr, -1, "Not enough memory to store the property %1$s.\n", key);
    }
    return index;
}

int32_t properties_put_string(Properties *list, const char *key, char **value) {
    return properties_put(list, key, TC_string, value);
}
int32_t properties_put_any(Properties *list, const char *key, Any *value) {
    return properties_put(list, key, TC_any, value);
}
int32_t properties_put_object(Properties *list, const char *key, ObjectRef *value) {
    return properties_put(list, key, TC_Object, value);
}
int32_t properties_put_short(Properties *list, const char *key, int16_t *value) {
    return properties_put(list, key, TC_short, value);
}
int32_t properties_put_long(Properties *list, const char *key, int32_t *value) {
    return properties_put(list, key, TC_long, value);
}
int32_t properties_put_ulong(Properties *list, const char *key, uint32_t *value) {
    return properties_put(list, key, TC_ulong, value);
}
int32_t properties_put_boolean(Properties *list, const char *key, uint8_t *value) {
    return properties_put(list, key, TC_boolean, value);
}
int32_t properties_put_OctetList(Properties *list, const char *key, OctetList *value) {
    return properties_put(list, key, TC_Vem_Types_OctetList, value);
}
int32_t properties_put_properties(Properties *list, const char *key, Properties *value) {
    return properties_put(list, key, TC_Vem_Korvo2__sequence_Property_Properties, value);
}
int32_t properties_put_properties_list(Properties *list, const char *key, PropertiesList *value) {
    return properties_put(list, key, TC_Vem_Korvo2__sequence_Properties_PropertiesList, value);
}

int32_t properties_put_string_dup(Properties *list, const char *key, const char *value) {
    return put_copy(list, key, TC_string, &value);
}
int32_t properties_put_any_dup(Properties *list, const char *key, const Any *value) {
    return put_copy(list, key, TC_any, value);
}
int32_t properties_put_object_dup(Properties *list, const char *key, const char *value) {
    return put_copy(list, key, TC_Object, &value);
}
int32_t properties_put_short_dup(Properties *list, const char *key, int16_t value) {
    return put_copy(list, key, TC_short, &value);
}
int32_t properties_put_long_dup(Properties *list, const char *key, int32_t value) {
    return put_copy(list, key, TC_long, &value);
}
int32_t properties_put_ulong_dup(Properties *list, const char *key, uint32_t value) {
    return put_copy(list, key, TC_ulong, &value);
}
int32_t properties_put_boolean_dup(Properties *list, const char *key, uint8_t value) {
    const uint8_t truth = value != 0 ? 1 : 0;
    return put_copy(list, key, TC_boolean, &truth);
}
int32_t properties_put_OctetList_dup(Properties *list, const char *key, const OctetList *value) {
    return put_copy(list, key, TC_Vem_Types_OctetList, value);
}
int32_t properties_put_properties_dup(Properties *list, const char *key, const Properties *value) {
    return put_copy(list, key, TC_Vem_Korvo2__sequence_Property_Properties, value);
}
int32_t properties_put_properties_list_dup(Properties *list, const char *key,
                                           const PropertiesList *value) {
    return put_copy(list, key, TC_Vem_Korvo2__sequence_Properties_PropertiesList, value);
}
}
