// Type codes shaped as the endpoint library defines its own: a property
// {key string, value any} with a hand-written marshal function, property
// lists as sequences, an object-reference type, all with lazy initialisers
// and a lazily filled repository that uses the standard one. Tests, the fuzz
// target and the benchmark share them; they carry the library's repository
// names so that the documented example bytes can be pinned here.
#pragma once

#include <cstdint>

#include "runtime/marshal.h"
#include "runtime/stypes.h"
#include "runtime/typecode.h"

namespace sample {

struct Property {
    char *key;
    Any value;
};
typedef struct Properties KORVO_SEQUENCE(Property) Properties;
typedef struct PropertiesList KORVO_SEQUENCE(Properties) PropertiesList;

// A structure of every kind the runtime handles, walked from its table.
struct Inner {
    uint8_t flag;
    int32_t count;
};
typedef struct LongList KORVO_SEQUENCE(int32_t) LongList;
struct AllKinds {
    int16_t s;
    int32_t l;
    uint32_t ul;
    uint8_t b;
    uint8_t o;
    char *text;
    ObjectRef object;
    Any any;
    OctetList octets;
    StringList strings;
    LongList longs;
    Inner inner;
};

inline int marshal_property(AdrBuffer *buffer, void *value) {
    auto *p = static_cast<Property *>(value);
    return adr_start_struct(buffer) && adr_v_string(buffer, &p->key) &&
           adr_v_any(buffer, &p->value) && adr_end_struct(buffer);
}

void init_property(TypeCodeRec *tc);
void init_properties(TypeCodeRec *tc);
void init_properties_list(TypeCodeRec *tc);

inline TcWord property_members[5] = {{.init = init_property}};
inline TcWord properties_members[2] = {{.init = init_properties}, {.bound = &_any_bound_zero}};
inline TcWord properties_list_members[2] = {{.init = init_properties_list},
                                            {.bound = &_any_bound_zero}};
inline TcWord repeater_members[1] = {{.name = "Vem_Korvo2::Repeater"}};

inline TypeCodeRec TC_Property[1] = {{"Vem_Korvo2::Property", TC_STATE_UNFILLED, tk_struct,
                                      sizeof(Property), marshal_property, 5, property_members}};
inline TypeCodeRec TC_Properties[1] = {{"Vem_Korvo2::_sequence_Property_Properties",
                                        TC_STATE_UNFILLED, tk_sequence, sizeof(Properties),
                                        adr_v_dummy, 2, properties_members}};
inline TypeCodeRec TC_PropertiesList[1] = {{"Vem_Korvo2::_sequence_Properties_PropertiesList",
                                            TC_STATE_UNFILLED, tk_sequence, sizeof(PropertiesList),
                                            adr_v_dummy, 2, properties_list_members}};
inline TypeCodeRec TC_Repeater[1] = {{"Vem_Korvo2::Repeater", TC_STATE_STATIC, tk_objref,
                                      sizeof(ObjectRef), adr_v_Object, 1, repeater_members}};

inline void init_property(TypeCodeRec *tc) {
    tc->members[1].name = "key";
    tc->members[2].type = TC_string;
    tc->members[3].name = "value";
    tc->members[4].type = TC_any;
    tc->members[0].name = tc->name;
    tc_set_ready(tc);
}
inline void init_properties(TypeCodeRec *tc) {
    tc->members[0].type = TC_Property;
    tc_set_ready(tc);
}
inline void init_properties_list(TypeCodeRec *tc) {
    tc->members[0].type = TC_Properties;
    tc_set_ready(tc);
}

inline TcWord long_list_members[2] = {{.type = TC_long}, {.bound = &_any_bound_zero}};
inline TypeCodeRec TC_LongList[1] = {{"Sample::LongList", TC_STATE_STATIC, tk_sequence,
                                      sizeof(LongList), adr_v_dummy, 2, long_list_members}};
inline TcWord inner_members[5] = {{.name = "Sample::Inner"},
                                  {.name = "flag"},
                                  {.type = TC_boolean},
                                  {.name = "count"},
                                  {.type = TC_long}};
inline TypeCodeRec TC_Inner[1] = {
    {"Sample::Inner", TC_STATE_STATIC, tk_struct, sizeof(Inner), nullptr, 5, inner_members}};
inline TcWord all_kinds_members[25] = {{.name = "Sample::AllKinds"},
                                       {.name = "s"},
                                       {.type = TC_short},
                                       {.name = "l"},
                                       {.type = TC_long},
                                       {.name = "ul"},
                                       {.type = TC_ulong},
                                       {.name = "b"},
                                       {.type = TC_boolean},
                                       {.name = "o"},
                                       {.type = TC_octet},
                                       {.name = "text"},
                                       {.type = TC_string},
                                       {.name = "object"},
                                       {.type = TC_Object},
                                       {.name = "any"},
                                       {.type = TC_any},
                                       {.name = "octets"},
                                       {.type = TC_Vem_Types_OctetList},
                                       {.name = "strings"},
                                       {.type = TC_Vem_Types_StringList},
                                       {.name = "longs"},
                                       {.type = TC_LongList},
                                       {.name = "inner"},
                                       {.type = TC_Inner}};
inline TypeCodeRec TC_AllKinds[1] = {{"Sample::AllKinds", TC_STATE_STATIC, tk_struct,
                                      sizeof(AllKinds), nullptr, 25, all_kinds_members}};

void init_repository(TypeRepository *repository);

inline TcWord repository_types[] = {{.repo_init = init_repository},
                                    {},
                                    {.name = "Vem_Korvo2::_sequence_Property_Properties"},
                                    {.type = TC_Properties},
                                    {.name = "Vem_Korvo2::Properties"},
                                    {.type = TC_Properties},
                                    {.name = "Vem_Korvo2::_sequence_Properties_PropertiesList"},
                                    {.type = TC_PropertiesList},
                                    {.name = "Vem_Korvo2::PropertiesList"},
                                    {.type = TC_PropertiesList},
                                    {.name = "Vem_Korvo2::Repeater"},
                                    {.type = TC_Repeater},
                                    {.name = "Sample::LongList"},
                                    {.type = TC_LongList},
                                    {.name = "Sample::Inner"},
                                    {.type = TC_Inner},
                                    {.name = "Sample::AllKinds"},
                                    {.type = TC_AllKinds},
                                    {.name = ""}};
inline TcWord repository_uses[2] = {{}, {.repo = nullptr}};
inline TypeRepository repository[1] = {{repository_types, repository_uses}};

inline void init_repository(TypeRepository *r) {
    r->types[0].name = "Vem_Korvo2::Property";
    r->types[1].type = TC_Property;
    r->uses[0].repo = stypes_type_repository;
}

// Registers the sample repository (once is enough; again is harmless).
inline int register_types() {
    TypeRepository *list[] = {repository, type_repository_null};
    return adr_type_init(list);
}

}  // namespace sample

#include "runtime/mg_memory.h"
#include "tests/runtime/encoded_bytes.hpp"

namespace sample {

using korvo::test::Bytes;
using korvo::test::decode;
using korvo::test::encode;

// Builders of owned values for tests.
inline Any string_any(const char *text) {
    auto *cell = static_cast<char **>(mg_malloc(sizeof(char *)));
    *cell = mg_strdup(text);
    return Any{TC_string, cell};
}

inline Any long_any(int32_t number) {
    auto *cell = static_cast<int32_t *>(mg_malloc(sizeof(int32_t)));
    *cell = number;
    return Any{TC_long, cell};
}

inline void add_property(Properties &list, const char *key, Any value) {
    Property property{mg_strdup(key), value};
    seq_add(&list, &property, sizeof property);
}

// A value with something in every member: the numbers' extremes, a string
// with a multibyte character, a list in the any, NULL and empty strings.
inline AllKinds all_kinds() {
    AllKinds v{};
    v.s = INT16_MIN;
    v.l = INT32_MIN;
    v.ul = UINT32_MAX;
    v.b = 1;
    v.o = 0xFF;
    v.text = mg_strdup("caf\xc3\xa9 with a % sign");
    v.object = mg_strdup("rpt://gateway:9494");
    auto *nested = static_cast<Properties *>(mg_calloc(1, sizeof(Properties)));
    add_property(*nested, "id", string_any("s1"));
    add_property(*nested, "nothing", Any{nullptr, nullptr});
    v.any = Any{TC_Properties, nested};
    const uint8_t octets[] = {0, 1, 0xFF, 0};
    for (uint8_t o : octets)
        seq_add(&v.octets, &o, 1);
    for (const char *s : {"one", "", static_cast<const char *>(nullptr)}) {
        char *copy = mg_strdup(s);
        seq_add(&v.strings, &copy, sizeof copy);
    }
    for (int32_t n : {-1, 0, 7})
        seq_add(&v.longs, &n, sizeof n);
    v.inner = Inner{1, 42};
    return v;
}

}  // namespace sample
