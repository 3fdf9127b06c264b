/* The library's own types: the C layout of property lists and the related
 * sequences, their type codes (exported data in the runtime's record form,
 * completed on first use by initialisers of the library), the library's type
 * repository, korvo_init, and the generated glue that hands each type's code
 * to the runtime's generic copy and equality.
 *
 * Layout of a property list:
 *   Property            {key, value}: an owned key string and an `any` whose
 *                       value cell the property owns
 *   Properties          sequence of Property (insertion order)
 *   PropertiesList      sequence of Properties (e.g. a TOC)
 *   PropertiesListList  sequence of PropertiesList
 *   StreamKey           sequence of octets
 *   Repeater            an object reference
 * Everything a value points to comes from the runtime's allocator.
 *
 * Type names (the names an encoded `any` carries):
 *   TC_Vem_Korvo2_Property                                "Vem_Korvo2::Property"
 *   TC_Vem_Korvo2__sequence_Property_Properties "Vem_Korvo2::_sequence_Property_Properties"
 *   TC_Vem_Korvo2__sequence_Properties_PropertiesList
 * "Vem_Korvo2::_sequence_Properties_PropertiesList"
 *   TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList
 *                                          "Vem_Korvo2::_sequence_PropertiesList_PropertiesListList"
 *   TC_Vem_Korvo2__sequence_octet_StreamKey               "Vem_Korvo2::_sequence_octet_StreamKey"
 *   TC_Vem_Korvo2_Repeater                                "Vem_Korvo2::Repeater"
 * The repository also knows the sequences by their short names
 * ("Vem_Korvo2::Properties", "Vem_Korvo2::PropertiesList",
 * "Vem_Korvo2::PropertiesListList", "Vem_Korvo2::StreamKey") and lists the
 * exception types of korvo_exceptions.h.
 *
 * Copies returned by the copy_ glue belong to the caller (vem_free_generic
 * with the type's code releases what they own).
 *
 * Threads: the type codes are filled once (korvo_init, or the first use)
 * and then only read, from any thread.
 */
#ifndef KORVO_PROPERTIES_KORVO_TYPES_H
#define KORVO_PROPERTIES_KORVO_TYPES_H

#include <stdint.h>

#include "runtime/env.h"
#include "runtime/korvo_export.h"
#include "runtime/marshal.h"
#include "runtime/seq.h"
#include "runtime/stypes.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

typedef struct Property {
    char *key;
    Any value;
} Property;

typedef struct Properties KORVO_SEQUENCE(Property) Properties;
typedef struct PropertiesList KORVO_SEQUENCE(Properties) PropertiesList;
typedef struct PropertiesListList KORVO_SEQUENCE(PropertiesList) PropertiesListList;
typedef struct StreamKey KORVO_SEQUENCE(uint8_t) StreamKey;
typedef ObjectRef Repeater;

KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2_Property[1];
KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2__sequence_Property_Properties[1];
KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2__sequence_Properties_PropertiesList[1];
KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2__sequence_PropertiesList_PropertiesListList[1];
KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2__sequence_octet_StreamKey[1];
KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2_Repeater[1];

/* The library's type repository: the table of its type names and the table
 * of the repositories it uses (the runtime's standard one), both filled on
 * first registration. */
KORVO_EXPORT extern TypeRepository Korvo2_type_repository[1];

/* Registers the library's repository with the runtime, once per process;
 * safe to call from several threads. Returns the runtime's result (1, or 0
 * when a name conflicts) on the first call and 1 afterwards. Call it before
 * marshalling a value that holds the library's types inside an `any`. */
KORVO_EXPORT int korvo_init(void);

/* The marshal function of TC_Vem_Korvo2_Property: the key as a string, then
 * the value as an any, in either direction. */
KORVO_EXPORT int adr_v_Vem_Korvo2_Property(AdrBuffer *buffer, void *property);

/* Generated glue, one set per type T: the runtime's generic equality and
 * copy with T's code in front of the arguments.
 *   equal_Vem_Korvo2_T(a, b, env)           _generic_equal
 *   copy_Vem_Korvo2_T(value, env)           _generic_copy; the copy by value
 *                                           (all zero on failure)
 *   t_equal_Vem_Korvo2_T(env, a, b)         _t_generic_equal
 *   t_copy_Vem_Korvo2_T(env, source, target) _t_generic_copy; returns the
 *                                           target's words */
#define KORVO_DECLARE_GLUE(T, CType)                                                   \
    KORVO_EXPORT int equal_Vem_Korvo2_##T(const CType *a, const CType *b, Env *env);   \
    KORVO_EXPORT CType copy_Vem_Korvo2_##T(const CType *value, Env *env);              \
    KORVO_EXPORT int t_equal_Vem_Korvo2_##T(Env *env, const CType *a, const CType *b); \
    KORVO_EXPORT CType t_copy_Vem_Korvo2_##T(Env *env, const CType *source, CType *target);

KORVO_DECLARE_GLUE(Property, Property)
KORVO_DECLARE_GLUE(_sequence_Property_Properties, Properties)
KORVO_DECLARE_GLUE(_sequence_Properties_PropertiesList, PropertiesList)
KORVO_DECLARE_GLUE(_sequence_PropertiesList_PropertiesListList, PropertiesListList)
KORVO_DECLARE_GLUE(_sequence_octet_StreamKey, StreamKey)

#undef KORVO_DECLARE_GLUE

KORVO_END_DECLS

#endif
