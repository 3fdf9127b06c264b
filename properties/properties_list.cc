// The life of a property list (creation, release, cloning), removal, and
// comparing and matching single properties.
#include <cstring>

#include "properties/helpers/match.h"
#include "properties/korvo_properties.h"
#include "properties/korvo_seq.h"
#include "properties/properties_internal.hpp"
#include "runtime/generic.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"

using korvo::props::find_property;

namespace {

template <typename List>
List *new_header() {
    return static_cast<List *>(mg_calloc(1, sizeof(List)));
}

// A deep copy of `list` in a new header; a failed copy is raised.
template <typename List>
List *clone(TypeCode type, const List *list) {
    if (list == nullptr)
        return nullptr;
    korvo::rt::MgPtr<List> copy(new_header<List>());
    if (copy == nullptr)
        vaThrow(nullptr, -1, "Not enough memory to copy a value of type %1$s.\n", type->name);
    Env env{};
    if (!_t_generic_copy(type, &env, list, copy.get()))
        ev_to_exception(&env);
    return copy.release();
}

// Keys compare byte by byte; a NULL key (which only a decoded list can
// hold) equals only another NULL key.
bool keys_equal(const char *a, const char *b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    return std::strcmp(a, b) == 0;
}

// The text of a string or reference value, or NULL for any other kind.
const char *text_of(const Any &value) {
    if (value.type == nullptr || value.value == nullptr)
        return nullptr;
    if (value.type->kind != tk_string && value.type->kind != tk_objref)
        return nullptr;
    return *static_cast<const char *const *>(value.value);
}

}  // namespace

extern "C" {

Properties *properties_new(void) {
    return new_header<Properties>();
}

PropertiesList *properties_list_new(void) {
    return new_header<PropertiesList>();
}

void properties_init(Properties *list) {
    seq_init(list);
}

void properties_list_init(PropertiesList *list) {
    seq_init(list);
}

void properties_delete(Properties *list) {
    vem_free_generic(list, TC_Vem_Korvo2__sequence_Property_Properties);
}

void properties_list_delete(PropertiesList *list) {
    vem_free_generic(list, TC_Vem_Korvo2__sequence_Properties_PropertiesList);
}

void properties_free(Properties *list) {
    if (list == nullptr)
        return;
    for (uint32_t i = 0; i < list->length && list->buffer != nullptr; ++i)
        mg_free(list->buffer[i].key);
    seq_free_buffer(list);
}

Properties *properties_clone(const Properties *list) {
    return clone(TC_Vem_Korvo2__sequence_Property_Properties, list);
}

PropertiesList *properties_list_clone(const PropertiesList *list) {
    return clone(TC_Vem_Korvo2__sequence_Properties_PropertiesList, list);
}

Property *properties_remove(Properties *list, const char *key) {
    const Property *property = find_property(list, key);
    if (property == nullptr)
        return nullptr;
    return static_cast<Property *>(
        seq_remove(list, static_cast<uint32_t>(property - list->buffer), sizeof(Property)));
}

int32_t properties_remove_and_destroy(Properties *list, const char *key) {
    Property *removed = properties_remove(list, key);
    if (removed == nullptr)
        return -1;
    vem_free_generic(removed, TC_Vem_Korvo2_Property);
    mg_free(removed);
    return 0;
}

int32_t property_equal(const Property *a, const Property *b) {
    if (a == b)
        return 1;
    if (a == nullptr || b == nullptr || !keys_equal(a->key, b->key))
        return 0;
    Env env{};
    const int equal = qel_generic_equal(TC_any, &env, &a->value, &b->value);
    env_clear(&env);
    return equal;
}

int32_t property_match(const Property *pattern, const Property *candidate) {
    if (pattern == nullptr || candidate == nullptr || !keys_equal(pattern->key, candidate->key))
        return 0;
    if (pattern->value.type == nullptr || pattern->value.type->kind != tk_string)
        return property_equal(pattern, candidate);
    const char *wanted = text_of(pattern->value);
    const char *text = text_of(candidate->value);
    return match(wanted, text) == KES_MATCH_YES ? 1 : 0;
}
}
