/* Generic operations on values of any type that a type code describes:
 * deep copy, deep free, equality and structure creation. They walk the type
 * code (typecode.h), so they work for the runtime's standard types and for
 * every structure and sequence type the library defines.
 *
 * A value lives in storage of type->size bytes that the caller provides; the
 * operations here own nothing of that storage itself, only what the value
 * points to (strings, value cells, sequence buffers), which comes from the
 * runtime's allocator. Failures (memory exhausted, a malformed type code) are
 * recorded in the caller's Env (env.h); `env` may be NULL when the caller
 * does not want the details.
 *
 * Threads: any thread; a value is used by one thread at a time.
 */
#ifndef KORVO_RUNTIME_GENERIC_H
#define KORVO_RUNTIME_GENERIC_H

#include "runtime/env.h"
#include "runtime/korvo_export.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* Frees everything `value` owns, not its own storage, and zeroes that
 * storage. NULL `value` or `type` is ignored. */
KORVO_RUNTIME_EXPORT void vem_free_generic(void *value, TypeCode type);

/* Deep-copies the value at `source` into the storage at `target` (whose old
 * contents are overwritten, not freed). Returns 1; on failure returns 0,
 * leaves `target` zeroed and records the failure in `env` (first word
 * cleared on entry). */
KORVO_RUNTIME_EXPORT int _t_generic_copy(TypeCode type, Env *env, const void *source, void *target);

/* Deep copy into a new block of type->size bytes that the caller owns
 * (release with vem_free_generic, then mg_free); NULL on failure, recorded in
 * `env`. */
KORVO_RUNTIME_EXPORT void *_generic_copy(TypeCode type, const void *value, Env *env);

/* 1 when the two values are equal, else 0: the same values give the same
 * encoded bytes (marshal.h). Strings and object references compare by their
 * text (NULL only equals NULL), booleans by truth, sequences element by
 * element (not by `maximum`), anys by type (TypeCode_equal) and value. A
 * malformed type code gives 0 and is recorded in `env`. */
KORVO_RUNTIME_EXPORT int _t_generic_equal(TypeCode type, Env *env, const void *a, const void *b);
KORVO_RUNTIME_EXPORT int _generic_equal(TypeCode type, const void *a, const void *b, Env *env);

/* Builds a structure of type `type` in a new zeroed block that the caller
 * owns: the variable arguments are pointers to the members' values, in member
 * order, ended by a NULL pointer; each is deep-copied into its member.
 * Members after the last pointer stay zero. Returns NULL when `type` is not a
 * structure, a copy fails or memory is exhausted (nothing is left behind). */
KORVO_RUNTIME_EXPORT void *generic_create(TypeCode type, ...);

KORVO_END_DECLS

#endif
