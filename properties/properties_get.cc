// Looking up properties: by index, by presence, and by value with a type
// check, through the typed getters.
#include "properties/korvo_properties.h"
#include "properties/properties_internal.hpp"

using korvo::props::find_property;
using korvo::props::raise_for_key;

namespace {

// The property with `key` checked against `type`: NULL when absent (message
// 36 when it must exist); message 37 when it holds another type.
const Property *checked(const Properties *list, const char *key, TypeCode type, bool must_exist) {
    const Property *property = find_property(list, key);
    if (property == nullptr) {
        if (must_exist)
            raise_for_key(KORVO_MSG_PROPERTY_NOT_FOUND, key);
        return nullptr;
    }
    if (!TypeCode_equal(property->value.type, nullptr, type))
        raise_for_key(KORVO_MSG_PROPERTY_WRONG_TYPE, key);
    return property;
}

// A value read out of its cell: the default when the key is absent (or the
// property has no cell).
template <typename T>
T value_of(const Properties *list, const char *key, TypeCode type, bool must_exist,
           T default_value) {
    const Property *property = checked(list, key, type, must_exist);
    if (property == nullptr || property->value.value == nullptr)
        return default_value;
    return *static_cast<const T *>(property->value.value);
}

// A pointer to the cell itself.
template <typename T>
T *cell_of(const Properties *list, const char *key, TypeCode type, bool must_exist,
           T *default_value) {
    const Property *property = checked(list, key, type, must_exist);
    if (property == nullptr)
        return default_value;
    return static_cast<T *>(property->value.value);
}

}  // namespace

extern "C" {

int32_t properties_get_property_index(const Properties *list, const char *key) {
    const Property *property = find_property(list, key);
    return property != nullptr ? static_cast<int32_t>(property - list->buffer) : -1;
}

int32_t properties_find(const Properties *list, const char *key) {
    return find_property(list, key) != nullptr ? 1 : 0;
}

void *properties_get(const Properties *list, const char *key, TypeCode type, int32_t must_exist) {
    const Property *property = checked(list, key, type, must_exist != 0);
    return property != nullptr ? property->value.value : nullptr;
}

char *properties_get_string(const Properties *list, const char *key) {
    return value_of<char *>(list, key, TC_string, true, nullptr);
}
Any *properties_get_any(const Properties *list, const char *key) {
    return cell_of<Any>(list, key, TC_any, true, nullptr);
}
ObjectRef properties_get_object(const Properties *list, const char *key) {
    return value_of<ObjectRef>(list, key, TC_Object, true, nullptr);
}
int16_t properties_get_short(const Properties *list, const char *key) {
    return value_of<int16_t>(list, key, TC_short, true, 0);
}
int32_t properties_get_long(const Properties *list, const char *key) {
    return value_of<int32_t>(list, key, TC_long, true, 0);
}
uint32_t properties_get_ulong(const Properties *list, const char *key) {
    return value_of<uint32_t>(list, key, TC_ulong, true, 0);
}
uint8_t properties_get_boolean(const Properties *list, const char *key) {
    return value_of<uint8_t>(list, key, TC_boolean, true, 0);
}
OctetList *properties_get_OctetList(const Properties *list, const char *key) {
    return cell_of<OctetList>(list, key, TC_Vem_Types_OctetList, true, nullptr);
}
Properties *properties_get_properties(const Properties *list, const char *key) {
    return cell_of<Properties>(list, key, TC_Vem_Korvo2__sequence_Property_Properties, true,
                               nullptr);
}
PropertiesList *properties_get_properties_list(const Properties *list, const char *key) {
    return cell_of<PropertiesList>(list, key, TC_Vem_Korvo2__sequence_Properties_PropertiesList,
                                   true, nullptr);
}

char *properties_get_string2(const Properties *list, const char *key, char *default_value) {
    return value_of<char *>(list, key, TC_string, false, default_value);
}
Any *properties_get_any2(const Properties *list, const char *key, Any *default_value) {
    return cell_of<Any>(list, key, TC_any, false, default_value);
}
ObjectRef properties_get_object2(const Properties *list, const char *key, ObjectRef default_value) {
    return value_of<ObjectRef>(list, key, TC_Object, false, default_value);
}
int16_t properties_get_short2(const Properties *list, const char *key, int16_t default_value) {
    return value_of<int16_t>(list, key, TC_short, false, default_value);
}
int32_t properties_get_long2(const Properties *list, const char *key, int32_t default_value) {
    return value_of<int32_t>(list, key, TC_long, false, default_value);
}
uint32_t properties_get_ulong2(const Properties *list, const char *key, uint32_t default_value) {
    return value_of<uint32_t>(list, key, TC_ulong, false, default_value);
}
uint8_t properties_get_boolean2(const Properties *list, const char *key, uint8_t default_value) {
    return value_of<uint8_t>(list, key, TC_boolean, false, default_value);
}
OctetList *properties_get_OctetList2(const Properties *list, const char *key,
                                     OctetList *default_value) {
    return cell_of<OctetList>(list, key, TC_Vem_Types_OctetList, false, default_value);
}
Properties *properties_get_properties2(const Properties *list, const char *key,
                                       Properties *default_value) {
    return cell_of<Properties>(list, key, TC_Vem_Korvo2__sequence_Property_Properties, false,
                               default_value);
}
PropertiesList *properties_get_properties_list2(const Properties *list, const char *key,
                                                PropertiesList *default_value) {
    return cell_of<PropertiesList>(list, key, TC_Vem_Korvo2__sequence_Properties_PropertiesList,
                                   false, default_value);
}
}
