// The type codes of property lists and their relatives, with the
// initialisers that complete their member tables on first use, and the
// marshal function of a property.
#include "properties/korvo_types.h"

#include "runtime/marshal.h"
#include "runtime/stypes.h"

namespace {

void init_property(TypeCodeRec *tc) {
    // adr_v_Vem_Korvo2_Property writes the members in order and nothing
    // else, so the runtime may walk lists of properties without calling it.
    adr_declare_member_walk(adr_v_Vem_Korvo2_Property);
    tc->members[1].name = "key";
    tc->members[2].type = TC_string;
    tc->members[3].name = "value";
    tc->members[4].type = TC_any;
    tc->members[0].name = tc->name;
    tc_set_ready(tc);
}

void init_properties(TypeCodeRec *tc) {
    tc->members[0].type = TC_Vem_Korvo2_Property;
    tc_set_ready(tc);
}

void init_properties_list(TypeCodeRec *tc) {
    tc->members[0].type = TC_Vem_Korvo2__sequence_Property_Properties;
    tc_set_ready(tc);
}

void init_properties_list_list(TypeCodeRec *tc) {
    tc->members[0].type = TC_Vem_Korvo2__sequence_Properties_PropertiesList;
    tc_set_ready(tc);
}

void init_stream_key(TypeCodeRec *tc) {
    tc->members[0].type = TC_octet;
    tc_set_ready(tc);
}

// The marshal function `fn` of the runtime as the runtime itself knows it.
// Named in constant data, a function of another DLL resolves to this DLL's
// import stub, whose address neither the runtime nor callers recognise (the
// runtime compares marshal words with adr_v_dummy); taken while the library
// loads, it is the address the import table holds. Elsewhere both are the
// same address.
AdrMarshalFn runtime_marshal(AdrMarshalFn fn) {
    return fn;
}

TcWord property_members[5] = {{.init = init_property}};
TcWord properties_members[2] = {{.init = init_properties}, {.bound = &_any_bound_zero}};
TcWord properties_list_members[2] = {{.init = init_properties_list}, {.bound = &_any_bound_zero}};
TcWord properties_list_list_members[2] = {{.init = init_properties_list_list},
                                          {.bound = &_any_bound_zero}};
TcWord stream_key_members[2] = {{.init = init_stream_key}, {.bound = &_any_bound_zero}};
TcWord repeater_members[1] = {{.name = "Vem_Korvo2::Repeater"}};

}  // namespace

extern "C" {

TypeCodeRec TC_Vem_Korvo2_Property[1] = {{"Vem_Korvo2::Property", TC_STATE_UNFILLED, tk_struct,
                                          sizeof(Property), adr_v_Vem_Korvo2_Property, 5,
                                          property_members}};
TypeCodeRec TC_Vem_Korvo2__sequence_Property_Properties[1] = {
    {"Vem_Korvo2::_sequence_Property_Properties", TC_STATE_UNFILLED, tk_sequence,
     sizeof(Properties), runtime_marshal(adr_v_dummy), 2, properties_members}};
TypeCodeRec TC_Vem_Korvo2__sequence_Properties_PropertiesList[1] = {
    {"Vem_Korvo2::_sequence_Properties_PropertiesList", TC_STATE_UNFILLED, tk_sequence,
     sizeof(PropertiesList), runtime_marshal(adr_v_dummy), 2, properties_list_members}};
TypeCodeRec TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList[1] = {
    {"Vem_Korvo2::_sequence_PropertiesList_PropertiesListList", TC_STATE_UNFILLED, tk_sequence,
     sizeof(PropertiesListList), runtime_marshal(adr_v_dummy), 2, properties_list_list_members}};
TypeCodeRec TC_Vem_Korvo2__sequence_octet_StreamKey[1] = {
    {"Vem_Korvo2::_sequence_octet_StreamKey", TC_STATE_UNFILLED, tk_sequence, sizeof(StreamKey),
     runtime_marshal(adr_v_dummy), 2, stream_key_members}};
TypeCodeRec TC_Vem_Korvo2_Repeater[1] = {{"Vem_Korvo2::Repeater", TC_STATE_STATIC, tk_objref,
                                          sizeof(Repeater), runtime_marshal(adr_v_Object), 1,
                                          repeater_members}};

int adr_v_Vem_Korvo2_Property(AdrBuffer *buffer, void *value) {
    if (value == nullptr || !adr_start_struct(buffer))
        return 0;
    auto *property = static_cast<Property *>(value);
    const bool ok = adr_v_string(buffer, &property->key) && adr_v_any(buffer, &property->value);
    return adr_end_struct(buffer) && ok ? 1 : 0;
}
}
