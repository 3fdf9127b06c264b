/* Property lists: ordered key/value pairs whose values are typed. Keys are
 * NUL-terminated strings compared byte by byte (case-sensitive); the list
 * keeps its own copy of every key. A lookup scans from the front and finds
 * the first property with the key (a decoded list may hold a key twice).
 *
 * Value cells, by the type code in the property's `any`:
 *   TC_string              char *          an owned string
 *   TC_any                 Any
 *   TC_Object              ObjectRef       an owned reference text
 *   TC_short               int16_t         TC_long int32_t, TC_ulong uint32_t
 *   TC_boolean             uint8_t, 0 or 1
 *   TC_Vem_Types_OctetList OctetList
 *   TC_Vem_Korvo2__sequence_Property_Properties        Properties
 *   TC_Vem_Korvo2__sequence_Properties_PropertiesList  PropertiesList
 *
 * Ownership:
 *   - properties_new, properties_list_new, properties_clone and
 *     properties_list_clone return a header the caller owns: release its
 *     contents with properties_delete / properties_list_delete, then the
 *     header with mg_free.
 *   - Getters return pointers into the list (the string, the cell); they stay
 *     valid until the property is replaced or removed.
 *   - Putters without _dup take over the value cell they are given (an mg
 *     block, with everything it points to), also when they fail. The _dup
 *     putters copy what they are given; the caller keeps it.
 *   - properties_remove returns a Property block the caller owns (key, value
 *     cell and block): vem_free_generic(p, TC_Vem_Korvo2_Property) frees
 *     the key and the value, then mg_free(p) the block.
 *
 * Failures are raised through the runtime (raise.h): catalog message 36 for
 * a missing key in a must-exist get, 37 for a value of another type in any
 * get (also when a default was given), deep-copy failures as the runtime
 * reports them. The list is unchanged when a get raises.
 *
 * Threads: a list is used by one thread at a time; different lists may be
 * used by different threads. korvo_init may be called from any thread, once
 * or many times.
 */
#ifndef KORVO_PROPERTIES_KORVO_PROPERTIES_H
#define KORVO_PROPERTIES_KORVO_PROPERTIES_H

#include <stdint.h>

#include "properties/korvo_types.h"
#include "runtime/korvo_export.h"
#include "runtime/stypes.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* ---- life cycle ---------------------------------------------------------- */

/* A new empty list header (mg block), or NULL when memory is exhausted. */
KORVO_EXPORT Properties *properties_new(void);
KORVO_EXPORT PropertiesList *properties_list_new(void);
/* Zero an existing header (an empty list); nothing is freed. */
KORVO_EXPORT void properties_init(Properties *list);
KORVO_EXPORT void properties_list_init(PropertiesList *list);
/* Free every key, every value cell with its contents and the buffer, and
 * zero the header; the header itself stays. NULL is ignored. */
KORVO_EXPORT void properties_delete(Properties *list);
KORVO_EXPORT void properties_list_delete(PropertiesList *list);
/* Free every key and the buffer, not the value cells (for lists whose values
 * belong to someone else), and zero the header. NULL is ignored. */
KORVO_EXPORT void properties_free(Properties *list);
/* A deep copy in a new header; NULL for NULL. */
KORVO_EXPORT Properties *properties_clone(const Properties *list);
KORVO_EXPORT PropertiesList *properties_list_clone(const PropertiesList *list);

/* ---- lookup -------------------------------------------------------------- */

/* Index of the first property with `key`, or -1 (absent, empty or NULL). */
KORVO_EXPORT int32_t properties_get_property_index(const Properties *list, const char *key);
/* 1 when a property with `key` exists, else 0. */
KORVO_EXPORT int32_t properties_find(const Properties *list, const char *key);
/* The value cell of the first property with `key`. Absent: NULL when
 * `must_exist` is 0, else message 36. Another type (TypeCode_equal): message
 * 37 whatever `must_exist` says. */
KORVO_EXPORT void *properties_get(const Properties *list, const char *key, TypeCode type,
                                  int32_t must_exist);

/* Typed getters: must exist (message 36), or, ending in 2, the default when
 * the key is absent. */
KORVO_EXPORT char *properties_get_string(const Properties *list, const char *key);
KORVO_EXPORT Any *properties_get_any(const Properties *list, const char *key);
KORVO_EXPORT ObjectRef properties_get_object(const Properties *list, const char *key);
KORVO_EXPORT int16_t properties_get_short(const Properties *list, const char *key);
KORVO_EXPORT int32_t properties_get_long(const Properties *list, const char *key);
KORVO_EXPORT uint32_t properties_get_ulong(const Properties *list, const char *key);
KORVO_EXPORT uint8_t properties_get_boolean(const Properties *list, const char *key);
KORVO_EXPORT OctetList *properties_get_OctetList(const Properties *list, const char *key);
KORVO_EXPORT Properties *properties_get_properties(const Properties *list, const char *key);
KORVO_EXPORT PropertiesList *properties_get_properties_list(const Properties *list,
                                                            const char *key);

/* Typed getters with a default: the value under `key`, or `default_value`
 * when the key is absent; a value of another type raises message 37 all
 * the same. What they return points into the list (or is the default). */
KORVO_EXPORT char *properties_get_string2(const Properties *list, const char *key,
                                          char *default_value);
KORVO_EXPORT Any *properties_get_any2(const Properties *list, const char *key, Any *default_value);
KORVO_EXPORT ObjectRef properties_get_object2(const Properties *list, const char *key,
                                              ObjectRef default_value);
KORVO_EXPORT int16_t properties_get_short2(const Properties *list, const char *key,
                                           int16_t default_value);
KORVO_EXPORT int32_t properties_get_long2(const Properties *list, const char *key,
                                          int32_t default_value);
KORVO_EXPORT uint32_t properties_get_ulong2(const Properties *list, const char *key,
                                            uint32_t default_value);
KORVO_EXPORT uint8_t properties_get_boolean2(const Properties *list, const char *key,
                                             uint8_t default_value);
KORVO_EXPORT OctetList *properties_get_OctetList2(const Properties *list, const char *key,
                                                  OctetList *default_value);
KORVO_EXPORT Properties *properties_get_properties2(const Properties *list, const char *key,
                                                    Properties *default_value);
KORVO_EXPORT PropertiesList *properties_get_properties_list2(const Properties *list,
                                                             const char *key,
                                                             PropertiesList *default_value);

/* ---- putting ------------------------------------------------------------- */

/* Stores {copy of key, type, value}, taking over the cell `value`. An
 * existing property with `key` (the first) is replaced in its position and
 * its old key and value are freed; otherwise the property is appended.
 * Returns the property's index; -1 (the cell freed) when `list` or `key` is
 * NULL. */
KORVO_EXPORT int32_t properties_put(Properties *list, const char *key, TypeCode type, void *value);

/* Typed putters taking over a cell of the type (an mg block). */
KORVO_EXPORT int32_t properties_put_string(Properties *list, const char *key, char **value);
KORVO_EXPORT int32_t properties_put_any(Properties *list, const char *key, Any *value);
KORVO_EXPORT int32_t properties_put_object(Properties *list, const char *key, ObjectRef *value);
KORVO_EXPORT int32_t properties_put_short(Properties *list, const char *key, int16_t *value);
KORVO_EXPORT int32_t properties_put_long(Properties *list, const char *key, int32_t *value);
KORVO_EXPORT int32_t properties_put_ulong(Properties *list, const char *key, uint32_t *value);
KORVO_EXPORT int32_t properties_put_boolean(Properties *list, const char *key, uint8_t *value);
KORVO_EXPORT int32_t properties_put_OctetList(Properties *list, const char *key, OctetList *value);
KORVO_EXPORT int32_t properties_put_properties(Properties *list, const char *key,
                                               Properties *value);
KORVO_EXPORT int32_t properties_put_properties_list(Properties *list, const char *key,
                                                    PropertiesList *value);

/* Putters that copy: a fresh cell holding a deep copy of the value. */
KORVO_EXPORT int32_t properties_put_string_dup(Properties *list, const char *key,
                                               const char *value);
KORVO_EXPORT int32_t properties_put_any_dup(Properties *list, const char *key, const Any *value);
KORVO_EXPORT int32_t properties_put_object_dup(Properties *list, const char *key,
                                               const char *value);
KORVO_EXPORT int32_t properties_put_short_dup(Properties *list, const char *key, int16_t value);
KORVO_EXPORT int32_t properties_put_long_dup(Properties *list, const char *key, int32_t value);
KORVO_EXPORT int32_t properties_put_ulong_dup(Properties *list, const char *key, uint32_t value);
KORVO_EXPORT int32_t properties_put_boolean_dup(Properties *list, const char *key, uint8_t value);
KORVO_EXPORT int32_t properties_put_OctetList_dup(Properties *list, const char *key,
                                                  const OctetList *value);
KORVO_EXPORT int32_t properties_put_properties_dup(Properties *list, const char *key,
                                                   const Properties *value);
KORVO_EXPORT int32_t properties_put_properties_list_dup(Properties *list, const char *key,
                                                        const PropertiesList *value);

/* ---- removing ------------------------------------------------------------ */

/* Takes the first property with `key` out of the list and returns it in a new
 * block (key and value included); NULL when absent. The caller frees it with
 * what it owns in two steps:
 *   vem_free_generic(removed, TC_Vem_Korvo2_Property);   key and value cell
 *   mg_free(removed);                                    the block itself */
KORVO_EXPORT Property *properties_remove(Properties *list, const char *key);
/* The same, then frees the removed property entirely; 0, or -1 when absent. */
KORVO_EXPORT int32_t properties_remove_and_destroy(Properties *list, const char *key);

/* ---- comparing ----------------------------------------------------------- */

/* 1 when the keys are equal and the values encode to the same bytes. */
KORVO_EXPORT int32_t property_equal(const Property *a, const Property *b);
/* Keys must be equal. A string pattern value is a wildcard pattern (see
 * match.h) that the candidate's string value must fit; a candidate value
 * that is not a string (or reference) does not fit. Other pattern values
 * compare as property_equal. 1 or 0. */
KORVO_EXPORT int32_t property_match(const Property *pattern, const Property *candidate);

KORVO_END_DECLS

#endif
