/* Marshalling: typed values to bytes and back, in the runtime's encoding
 * (docs/encoding.md describes it byte by byte). The encoding is
 * deterministic: equal values give equal bytes. Integers are big-endian of
 * fixed width, strings and sequences carry a 32-bit length before their
 * contents, structures are their members in order, and an `any` is its
 * type's repository name followed by its value.
 *
 * Use: take a buffer, marshal one or more items through it, read the result
 * from its fields, release it.
 *
 *   AdrBuffer *b = adr_init_encode_buffer(NULL, 0);
 *   marshal_item(b, TC_x, &value);
 *   if (b->error == ADR_OK) use(b->data, b->length);
 *   adr_free_buf(b);          // or keep b->data (an mg block), then mg_free(b)
 *
 *   AdrBuffer *b = adr_init_decode_buffer(bytes, count);
 *   marshal_item(b, TC_x, &value);   // value: storage of TC_x->size bytes
 *   ... b->error, b->position (bytes consumed) ...
 *   adr_free_buf(b);          // the input stays the caller's
 *
 * Decoding never trusts its input: every length is checked against the bytes
 * that remain, nesting is limited to ADR_MAX_DEPTH, no allocation exceeds a
 * small multiple of the remaining input, and a failure sets the buffer's
 * error word (the first failure is kept; later calls do nothing). When a
 * marshal_item decode fails, everything it allocated is released and the
 * value's storage is left zeroed. Names in decoded `any` values resolve
 * through the repositories registered with adr_type_init; an encoded `any`
 * must have a type registered there too, so that it can be decoded again.
 *
 * Threads: a buffer is used by one thread at a time; registering
 * repositories (adr_type_init) may run on any thread.
 */
#ifndef KORVO_RUNTIME_MARSHAL_H
#define KORVO_RUNTIME_MARSHAL_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "runtime/stypes.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* Error codes of the buffer's error word (docs/encoding.md lists them too). */
#define ADR_OK 0
/* The input ends inside a fixed-width field. */
#define ADR_E_TRUNCATED 1
/* A string length or element count that the rest of the input cannot hold. */
#define ADR_E_BAD_LENGTH 2
/* An any names a type no registered repository knows (decoding), or its
 * type is not registered under its name (encoding). */
#define ADR_E_UNKNOWN_TYPE 3
/* Nesting deeper than ADR_MAX_DEPTH. */
#define ADR_E_TOO_DEEP 4
/* A boolean other than 0 or 1, a string holding a NUL byte, or a type's own
 * marshal function failing without a code of its own. */
#define ADR_E_BAD_VALUE 5
/* Memory exhausted. */
#define ADR_E_NO_MEMORY 6
/* A NULL or malformed type code, or a kind the runtime cannot marshal. */
#define ADR_E_BAD_TYPE 7
/* A sequence longer than its type's bound. */
#define ADR_E_BOUND 8
/* Encoding: an any with a type but no value cell, or a sequence with
 * elements but no buffer. */
#define ADR_E_NULL_VALUE 9
/* A NULL value pointer, or a buffer of no known direction. */
#define ADR_E_BAD_ARGUMENT 10
/* The encoding would exceed 4 GiB - 1 bytes. */
#define ADR_E_TOO_LARGE 11

/* How deeply anys, structures and sequences may nest inside one another. */
#define ADR_MAX_DEPTH 64

#define ADR_ENCODE 1
#define ADR_DECODE 2

/* Private to the runtime: names the buffer has resolved already. */
typedef struct AdrTypeCacheSlot {
    TypeCode type;
    const char *name;
    uint32_t name_length;
    uint32_t verified;
} AdrTypeCacheSlot;

#define ADR_TYPE_CACHE_SLOTS 8

typedef struct AdrBuffer {
    int32_t direction; /* ADR_ENCODE or ADR_DECODE */
    uint32_t position; /* decoding: the next byte to read */
    uint32_t capacity; /* encoding: the bytes allocated at `data` */
    uint8_t *data;     /* encoding: the encoded bytes (an mg block); decoding: the input */
    uint32_t length;   /* encoding: the bytes written; decoding: the input's length */
    int32_t depth;     /* current nesting */
    int32_t error;     /* ADR_OK, or the first failure's code */
    uint32_t cache_next;
    AdrTypeCacheSlot cache[ADR_TYPE_CACHE_SLOTS];
} AdrBuffer;

/* An encode buffer. `data` is NULL (the buffer allocates as it goes, starting
 * with `length` bytes when nonzero) or an mg block of `length` bytes that the
 * buffer takes over and writes from its start. NULL when memory is
 * exhausted. */
KORVO_RUNTIME_EXPORT AdrBuffer *adr_init_encode_buffer(void *data, uint32_t length);

/* A decode buffer over `length` bytes at `data`, which stay the caller's and
 * must outlive the buffer. NULL when memory is exhausted. */
KORVO_RUNTIME_EXPORT AdrBuffer *adr_init_decode_buffer(const void *data, uint32_t length);

/* Releases the buffer, and the encoded bytes of an encode buffer. NULL is
 * ignored. (mg_free on an encode buffer releases the buffer alone and leaves
 * `data` to the caller.) */
KORVO_RUNTIME_EXPORT void adr_free_buf(AdrBuffer *buffer);

/* Encodes or decodes one value of type `type` at `value`. Nonzero on
 * success; 0 with the error word set. Decoding zeroes the value's storage
 * first. */
KORVO_RUNTIME_EXPORT int marshal_item(AdrBuffer *buffer, TypeCode type, void *value);

/* Building blocks for marshal functions, each for either direction. */
KORVO_RUNTIME_EXPORT int adr_v_string(AdrBuffer *buffer, char **value);
KORVO_RUNTIME_EXPORT int adr_v_long(AdrBuffer *buffer, int32_t *value);
KORVO_RUNTIME_EXPORT int adr_v_ulong(AdrBuffer *buffer, uint32_t *value);
KORVO_RUNTIME_EXPORT int adr_v_short(AdrBuffer *buffer, int16_t *value);
KORVO_RUNTIME_EXPORT int adr_v_boolean(AdrBuffer *buffer, uint8_t *value);
KORVO_RUNTIME_EXPORT int adr_v_octet(AdrBuffer *buffer, uint8_t *value);
KORVO_RUNTIME_EXPORT int adr_v_any(AdrBuffer *buffer, Any *value);
/* An object reference (`value` points to an ObjectRef); the marshal function
 * of object reference types, hence the untyped pointer. */
KORVO_RUNTIME_EXPORT int adr_v_Object(AdrBuffer *buffer, void *value);
/* A sequence of type `type` (a tk_sequence code) at `sequence`. */
KORVO_RUNTIME_EXPORT int adr_v_tc_sequence(AdrBuffer *buffer, TypeCode type, void *sequence);
/* A message list (TC_Vem_Types_XOpenMessage). */
KORVO_RUNTIME_EXPORT int adr_v_Vem_Types_XOpenMessage(AdrBuffer *buffer, MessageList *value);
/* Bracket the members of a structure; they count its nesting depth and write
 * no bytes. */
KORVO_RUNTIME_EXPORT int adr_start_struct(AdrBuffer *buffer);
KORVO_RUNTIME_EXPORT int adr_end_struct(AdrBuffer *buffer);
/* The marshal function of types the runtime walks itself (sequences):
 * marshals nothing, returns the buffer's state. marshal_item walks a type
 * whose marshal function is NULL, adr_v_dummy or declared with
 * adr_declare_member_walk from its member table. */
KORVO_RUNTIME_EXPORT int adr_v_dummy(AdrBuffer *buffer, void *value);

/* Declares that `fn`, the own marshal function of one or more structure
 * types, marshals exactly the structure's members in order with the adr_v_*
 * building blocks and nothing else (between adr_start_struct and
 * adr_end_struct), so that walking the member table gives the same bytes and
 * the same errors. The runtime then walks such structures itself instead of
 * calling `fn`, which saves several calls per structure in long lists; a
 * sequence of structures of a string then an any is marshalled without the
 * general walk. At most 16 functions can be declared. Returns 1 (also when
 * `fn` was declared before), or 0 when `fn` is NULL or the table is full. */
KORVO_RUNTIME_EXPORT int adr_declare_member_walk(AdrMarshalFn fn);

KORVO_END_DECLS

#endif
