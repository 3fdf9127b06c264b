/* Type codes: the records that describe a type to the runtime, so that
 * generic copy, free, equality and marshalling can walk any value; and type
 * repositories, the tables that map a type's name to its record (an `any`
 * travels as its type's name followed by its value).
 *
 * A type code is a record of seven fields:
 *   name          the type's repository name, e.g. "Vem_Korvo2::Property"
 *   state         TC_STATE_STATIC (0): the member table is complete from the
 *                 start; TC_STATE_UNFILLED (2): members[0].init holds the
 *                 initialiser that completes the table on first use;
 *                 TC_STATE_READY (1): the initialiser has run
 *   kind          a TCKind, numbered as the CORBA type-code kinds
 *   size          sizeof one value of the type
 *   marshal       the type's marshal function (see marshal.h), or NULL
 *   member_words  the number of words in the member table
 *   members       the member table:
 *                   structure (tk_struct, tk_except): 2 * members + 1 words:
 *                     the type name, then (member name, member type code)
 *                     per member, in declaration order;
 *                   sequence (tk_sequence): 2 words: the element type code
 *                     and a pointer to the bound (&_any_bound_zero or NULL:
 *                     unbounded);
 *                   object reference (tk_objref): 1 word, the type name;
 *                   the basic kinds have no table (0, NULL).
 * Structure members are laid out as a C compiler lays out the same members
 * in the same order (each at the next multiple of its alignment), so a C
 * struct and its type code agree without offsets in the table.
 *
 * Every exported type code is a one-element array (TypeCodeRec TC_x[1]), so
 * that its name is both the record in the library's data and, used as a
 * value, the TypeCode that functions take: properties_get(l, k, TC_string, 1).
 *
 * Defining a type code with a lazy initialiser, from C or C++:
 *
 *   static void init_property(TypeCodeRec *tc);
 *   static TcWord property_members[5] = {{.init = init_property}};
 *   KORVO_RUNTIME_EXPORT TypeCodeRec TC_Vem_Korvo2_Property[1] = {{
 *       "Vem_Korvo2::Property", TC_STATE_UNFILLED, tk_struct, sizeof(Property),
 *       adr_v_Vem_Korvo2_Property, 5, property_members}};
 *   static void init_property(TypeCodeRec *tc) {
 *       tc->members[1].name = "key";   tc->members[2].type = TC_string;
 *       tc->members[3].name = "value"; tc->members[4].type = TC_any;
 *       tc->members[0].name = tc->name;
 *       tc_set_ready(tc);               // last: publishes the table
 *   }
 *
 * A sequence's initialiser stores the element code into members[0].type (its
 * bound word may be static: {.bound = &_any_bound_zero}). The runtime runs an
 * initialiser at most once, under its own lock, the first time it meets the
 * type (tc_prepare); initialisers must not raise. The records returned by the
 * functions here are static data: nobody frees them.
 *
 * Threads: type codes are prepared once and then only read, from any
 * thread.
 */
#ifndef KORVO_RUNTIME_TYPECODE_H
#define KORVO_RUNTIME_TYPECODE_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/korvo_export.h"

KORVO_BEGIN_DECLS

/* Type-code kinds, numbered as the CORBA type-code kinds. The runtime handles
 * the kinds marked (*); the others are listed to keep the numbering. */
typedef enum TCKind {
    tk_null = 0,
    tk_void = 1,
    tk_short = 2, /* (*) int16_t */
    tk_long = 3,  /* (*) int32_t: the runtime's "long" is 32 bits */
    tk_ushort = 4,
    tk_ulong = 5, /* (*) uint32_t */
    tk_float = 6,
    tk_double = 7,
    tk_boolean = 8, /* (*) uint8_t, 0 or 1 */
    tk_char = 9,
    tk_octet = 10, /* (*) uint8_t */
    tk_any = 11,   /* (*) Any */
    tk_TypeCode = 12,
    tk_Principal = 13,
    tk_objref = 14, /* (*) ObjectRef */
    tk_struct = 15, /* (*) a C struct of the members */
    tk_union = 16,
    tk_enum = 17,
    tk_string = 18,   /* (*) char *, owned, NULL allowed */
    tk_sequence = 19, /* (*) KORVO_SEQUENCE(element) */
    tk_array = 20,
    tk_alias = 21,
    tk_except = 22 /* (*) as tk_struct */
} TCKind;

#define TC_STATE_STATIC 0
#define TC_STATE_READY 1
#define TC_STATE_UNFILLED 2

struct TypeCodeRec;
struct TypeRepository;

/* One word of a member table or of a repository table. */
typedef union TcWord {
    const char *name;                               /* a type or member name */
    struct TypeCodeRec *type;                       /* a member or element type */
    const uint32_t *bound;                          /* a sequence's bound */
    void (*init)(struct TypeCodeRec *type);         /* a type's initialiser */
    void (*repo_init)(struct TypeRepository *repo); /* a repository's initialiser */
    struct TypeRepository *repo;                    /* a repository a repository uses */
} TcWord;

typedef struct TypeCodeRec TypeCodeRec;
typedef TypeCodeRec *TypeCode;

struct AdrBuffer;
/* Encodes or decodes one value, as the buffer's direction says; nonzero on
 * success, 0 with the buffer's error word set on failure. */
typedef int (*AdrMarshalFn)(struct AdrBuffer *buffer, void *value);

struct TypeCodeRec {
    const char *name;
    int32_t state;
    int32_t kind;
    uint32_t size;
    AdrMarshalFn marshal;
    uint32_t member_words;
    TcWord *members;
};

/* A type repository: two words, a table of (name, type code) word pairs
 * ended by a NULL or empty name, and a NULL-ended table of the repositories
 * whose types this one relies on. Several names may give the same code
 * (aliases). A repository whose tables are filled on first use holds its
 * initialiser in types[0].repo_init, with types[1] (the first pair's code)
 * NULL; the initialiser fills both tables, types[0] and types[1] included.
 * The runtime runs it once, when the repository is first registered, and
 * keeps the record of which repositories it has initialised itself, so the
 * repository stays exactly these two words. An empty table begins with a
 * NULL name. */
typedef struct TypeRepository {
    TcWord *types;
    TcWord *uses;
} TypeRepository;

/* The runtime's standard repository (the codes of stypes.h) and the empty
 * repository that may end a list given to adr_type_init. */
KORVO_RUNTIME_EXPORT extern TypeRepository stypes_type_repository[1];
KORVO_RUNTIME_EXPORT extern TypeRepository type_repository_null[1];

/* Registers repositories for name lookups (decoding an `any`, eh_throw). The
 * list ends with NULL or type_repository_null. Each repository is initialised
 * when needed, and the repositories it uses are registered with it. The
 * standard repository is always registered. Registering a repository again
 * changes nothing. Returns 1, or 0 when a table is malformed or a name is
 * already registered for a type that is not equal (TypeCode_equal); then
 * nothing of that call is registered. */
KORVO_RUNTIME_EXPORT int adr_type_init(TypeRepository *const *repositories);

/* The type code registered under `name`, or NULL. */
KORVO_RUNTIME_EXPORT TypeCode tc_lookup(const char *name);

/* Makes `tc` ready for use: runs its initialiser when the member table is
 * still unfilled. Returns `tc`, or NULL when `tc` is NULL or malformed (no
 * initialiser, a kind the runtime does not handle, a missing member type). */
KORVO_RUNTIME_EXPORT TypeCode tc_prepare(TypeCode tc);

/* For initialisers: marks the member table complete (TC_STATE_READY), with
 * the ordering that publishes the table to other threads. */
KORVO_RUNTIME_EXPORT void tc_set_ready(TypeCode tc);

/* Members of a prepared structure type: their count, and the name, type
 * code and byte offset of member `index` (NULL / SIZE_MAX out of range). */
KORVO_RUNTIME_EXPORT uint32_t tc_member_count(TypeCode tc);
KORVO_RUNTIME_EXPORT const char *tc_member_name(TypeCode tc, uint32_t index);
KORVO_RUNTIME_EXPORT TypeCode tc_member_type(TypeCode tc, uint32_t index);
KORVO_RUNTIME_EXPORT size_t tc_member_offset(TypeCode tc, uint32_t index);

/* The element type of a prepared sequence type, or NULL. */
KORVO_RUNTIME_EXPORT TypeCode tc_content_type(TypeCode tc);

struct Env;
/* Nonzero when `a` and `b` describe the same type: the same record, or the
 * same kind and, for named kinds (structures, sequences, object references),
 * the same name, with equal member names and member types (sequences: equal
 * element types and bounds). `env` may be NULL; the comparison never fails. */
KORVO_RUNTIME_EXPORT int TypeCode_equal(TypeCode a, struct Env *env, TypeCode b);

KORVO_END_DECLS

#endif
