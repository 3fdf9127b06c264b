/* The runtime's standard types: the C layout of their values and their type
 * codes (registered in stypes_type_repository under the names given below).
 *
 * Value cells as an `any` holds them (Any.value points to one):
 *   TC_string   char *            an owned string, or NULL
 *   TC_long     int32_t           TC_short int16_t, TC_ulong uint32_t
 *   TC_boolean  uint8_t, 0 or 1   TC_octet uint8_t
 *   TC_any      Any
 *   TC_Object   ObjectRef
 *   TC_Vem_Types_OctetList, TC_Vem_Types_StringList, TC__sequence_any_MsgContext,
 *   TC_Vem_Types_XOpenMessage: the sequence headers below.
 * Everything a value points to is owned by the value and comes from the
 * runtime's allocator; vem_free_generic releases it.
 *
 * Threads: the standard type codes are constant once prepared; any thread
 * may read them.
 */
#ifndef KORVO_RUNTIME_STYPES_H
#define KORVO_RUNTIME_STYPES_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "runtime/seq.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* A typed value: its type code and a separately allocated value cell of
 * type->size bytes. {NULL, NULL} is the empty any. */
typedef struct Any {
    TypeCode type;
    void *value;
} Any;

/* An object reference: the object's name as an owned string (for instance a
 * repeater's address); NULL is the nil reference. References copy as their
 * text, compare as their text and marshal as a string. */
typedef char *ObjectRef;

typedef struct OctetList KORVO_SEQUENCE(uint8_t) OctetList;
typedef struct StringList KORVO_SEQUENCE(char *) StringList;
typedef struct AnyList KORVO_SEQUENCE(Any) AnyList;

/* One message of an exception: the catalog's name (NULL: none), the default
 * text with its positional placeholders ("%1$s", "%2$d", ...), the message
 * number, and the arguments as an Any of type TC_Vem_Types_StringList, one
 * string per placeholder in the order the placeholders appear. */
typedef struct MessageEntry {
    char *catalog;
    char *default_msg;
    int32_t number;
    Any args;
} MessageEntry;

typedef struct MessageList KORVO_SEQUENCE(MessageEntry) MessageList;

/* The record of the runtime's own error type (TC_ExErrorMsg, type chain
 * EH_ERROR_CHAIN). The library's exception records begin with these seven
 * members in this order and may add more behind them. */
typedef struct ErrorRecord {
    char *type_name;     /* the type chain the exception was raised under */
    char *catalog;       /* catalog name, or NULL */
    int32_t key;         /* message number, or 0 */
    char *default_msg;   /* display text; "%7$M" shows `emsg` */
    int32_t time_stamp;  /* raise time, seconds since 1970 */
    AnyList msg_context; /* TC__sequence_any_MsgContext; usually empty */
    MessageList emsg;    /* TC_Vem_Types_XOpenMessage: one entry per raise */
} ErrorRecord;

/* The bound word of unbounded sequences: 0. */
KORVO_RUNTIME_EXPORT extern const uint32_t _any_bound_zero;

KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_string[1];  /* "string" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_long[1];    /* "long" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_short[1];   /* "short" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_ulong[1];   /* "ulong" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_boolean[1]; /* "boolean" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_octet[1];   /* "octet" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_any[1];     /* "any" */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_Object[1];  /* "Object" */
/* "Vem_Types::OctetList": sequence of octets */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_Vem_Types_OctetList[1];
/* "Vem_Types::StringList": sequence of strings */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_Vem_Types_StringList[1];
/* "_sequence_any_MsgContext": sequence of any (an exception's context) */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC__sequence_any_MsgContext[1];
/* "Vem_Types::XOpenMessageEntry": structure MessageEntry */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_Vem_Types_XOpenMessageEntry[1];
/* "Vem_Types::XOpenMessage": sequence of MessageEntry (a message list) */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_Vem_Types_XOpenMessage[1];
/* "ExErrorMsg": structure ErrorRecord */
KORVO_RUNTIME_EXPORT extern TypeCodeRec TC_ExErrorMsg[1];

KORVO_END_DECLS

#endif
