/* korvo exceptions: the record types, their type codes, the functions that
 * build and marshal them, and the raising functions vaMThrow and
 * vaMThrowChild.
 *
 * Every korvo exception record begins with the seven members of the
 * runtime's error record (ErrorRecord, stypes.h); ExDistributionDeferred
 * adds `defer_time`. An exception is raised under a type chain that names
 * every type it belongs to, most general first:
 *   KORVO_EXCEPTION_CHAIN                            the base type
 *   KORVO_EXCEPTION_CHILD_CHAIN("ExDepotNoSpace")    a child
 * Catch them as any runtime exception (raise.h, raise.hpp) and test the chain
 * with eh_exception_is_a / Exception::is_a; what() and eh_exception_text give
 * the message with its arguments filled in. The type codes are registered by
 * korvo_init under "Vem_Korvo2::<type>", which lets the runtime free and
 * render a caught record as its own type.
 *
 * Which chain a failure carries: the library's own failures (a missing key,
 * a file that cannot be read, a decoding error ... every catalog message the
 * property, record, file, stream and CDS functions raise) are raised with
 * vaThrow and carry the runtime's error chain, EH_ERROR_CHAIN, with an
 * ErrorRecord; catch them by EH_ERROR_CHAIN and read the message number. Only
 * vaMThrow and vaMThrowChild raise korvo exceptions (KORVO_EXCEPTION_CHAIN
 * and its children): the library does so for a CDS package whose depot
 * server is too busy (message 206, ExDistributionDeferred), and methods do
 * so for their own failures. Catching by EH_ERROR_CHAIN receives both.
 *
 * Ownership: create_Vem_Korvo2_<type> returns an mg block the caller owns
 * (vem_free_generic with the type's code, then mg_free); the raising
 * functions hand the record they build to the exception.
 *
 * Threads: any thread may raise; a caught exception is used by the thread
 * that caught it. The type codes are filled once (korvo_init) and then only
 * read.
 */
#ifndef KORVO_PROPERTIES_KORVO_EXCEPTIONS_H
#define KORVO_PROPERTIES_KORVO_EXCEPTIONS_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/korvo_export.h"
#include "runtime/marshal.h"
#include "runtime/raise.h"
#include "runtime/stypes.h"
#include "runtime/typecode.h"

/* The type chain of the base type, and of a child named `name` (a string
 * literal such as "ExDistributionDeferred"). */
#define KORVO_EXCEPTION_CHAIN EH_ERROR_CHAIN ":Vem_Korvo2::ExKorvoException"
#define KORVO_EXCEPTION_CHILD_CHAIN(name) KORVO_EXCEPTION_CHAIN ":Vem_Korvo2::" name

/* The 22 children in type-code order, with the layout of their record:
 * COMMON (ExKorvoException) or DEFERRED (ExDistributionDeferred). */
#define KORVO_EXCEPTION_CHILDREN(X)     \
    X(ExDepotNoSpace, COMMON)           \
    X(ExLargeSegment, COMMON)           \
    X(ExSegmentLocked, COMMON)          \
    X(ExInvalidSegment, COMMON)         \
    X(ExSegmentNotFound, COMMON)        \
    X(ExClientUnreachable, COMMON)      \
    X(ExSendInterrupted, COMMON)        \
    X(ExClientNotServiced, COMMON)      \
    X(ExClientFailedToConnect, COMMON)  \
    X(ExClientExitedEarly, COMMON)      \
    X(ExClientFailedToStart, COMMON)    \
    X(ExClientForcedToStop, COMMON)     \
    X(ExMsgFormatError, COMMON)         \
    X(ExSendError, COMMON)              \
    X(ExDepotFilesystem, COMMON)        \
    X(ExEndpointNotMobile, COMMON)      \
    X(ExDistExists, COMMON)             \
    X(ExRepeaterNotRunning, COMMON)     \
    X(ExFailedToSetChkpt, COMMON)       \
    X(ExDistributionRejected, COMMON)   \
    X(ExDistributionDeferred, DEFERRED) \
    X(ExInvalidCall, COMMON)

KORVO_BEGIN_DECLS

/* The record of the base type and of every child but ExDistributionDeferred. */
typedef struct ExKorvoException {
    char *type_name;     /* the type chain it was raised under */
    char *catalog;       /* catalog name, or NULL */
    int32_t key;         /* message number, or 0 */
    char *default_msg;   /* display text; "%7$M" shows `emsg` */
    int32_t time_stamp;  /* raise time, seconds since 1970 */
    AnyList msg_context; /* TC__sequence_any_MsgContext; left empty */
    MessageList emsg;    /* TC_Vem_Types_XOpenMessage: one entry per raise */
} ExKorvoException;

typedef struct ExDistributionDeferred {
    char *type_name;
    char *catalog;
    int32_t key;
    char *default_msg;
    int32_t time_stamp;
    AnyList msg_context;
    MessageList emsg;
    int32_t defer_time; /* seconds after which the distribution may retry */
} ExDistributionDeferred;

/* Per type T: its type code, a builder that deep-copies each member into a
 * new record (generic_create; NULL lists stand for empty ones; NULL when a
 * copy fails), and its marshal function (members in order between
 * adr_start_struct and adr_end_struct). */
#define KORVO_EXCEPTION_RECORD_COMMON ExKorvoException
#define KORVO_EXCEPTION_RECORD_DEFERRED ExDistributionDeferred
#define KORVO_EXCEPTION_EXTRA_COMMON
#define KORVO_EXCEPTION_EXTRA_DEFERRED , int32_t defer_time
#define KORVO_DECLARE_EXCEPTION(T, layout)                                                \
    KORVO_EXPORT extern TypeCodeRec TC_Vem_Korvo2_##T[1];                                 \
    KORVO_EXPORT KORVO_EXCEPTION_RECORD_##layout *create_Vem_Korvo2_##T(                  \
        const char *type_name, const char *catalog, int32_t key, const char *default_msg, \
        int32_t time_stamp, const AnyList *msg_context,                                   \
        const MessageList *emsg KORVO_EXCEPTION_EXTRA_##layout);                          \
    KORVO_EXPORT int adr_v_Vem_Korvo2_##T(AdrBuffer *buffer, void *record);

KORVO_DECLARE_EXCEPTION(ExKorvoException, COMMON)
KORVO_EXCEPTION_CHILDREN(KORVO_DECLARE_EXCEPTION)

#undef KORVO_DECLARE_EXCEPTION

/* Raises a korvo exception under the chain `type_name` whose message entry is
 * built from (catalog, number, default text, arguments) as vaThrow builds
 * it: arguments in placeholder order, numbers stored unsigned, "$errno" as
 * the text of errno, an illegal format kept as "Format has illegal types
 * (%1$s)". The record (large enough for any korvo type) has `type_name`,
 * default_msg "%7$M", the current time and the entry; catalog NULL, key 0.
 * A `type_name` outside the error chain (NULL, "", a name that does not
 * begin with EH_ERROR_CHAIN) names no record type and is replaced by
 * KORVO_EXCEPTION_CHAIN, so that the record is freed whole when caught. */
KORVO_NORETURN KORVO_EXPORT void vaMThrow(const char *type_name, const char *catalog,
                                          int32_t number, const char *default_text, ...);

/* As vaMThrow, for a child whose record is `size` bytes: the bytes of
 * `template_record` behind the common part (for ExDistributionDeferred,
 * `defer_time`) are copied into the raised record. */
KORVO_NORETURN KORVO_EXPORT void vaMThrowChild(const char *type_name, const void *template_record,
                                               size_t size, const char *catalog, int32_t number,
                                               const char *default_text, ...);

KORVO_END_DECLS

#endif
