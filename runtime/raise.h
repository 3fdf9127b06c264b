/* Raising and catching. Failures are C++ exceptions of one runtime class
 * (korvo::rt::Exception, raise.hpp) that carries the raised record, its type
 * code and its type chain, and renders its message as text. This header is
 * the C side: raising functions, frames that release what was handed to them,
 * and an adapter with which C code runs a callback and gets back what it
 * raised.
 *
 * Type chains name every type an exception belongs to, most general first,
 * separated by ':' (a "::" inside a name is part of the name), e.g.
 * EH_ERROR_CHAIN ":Vem_Korvo2::ExKorvoException". Catching by chain matches
 * a prefix of whole names: EH_ERROR_CHAIN catches the runtime's errors and
 * every exception type derived from them.
 *
 * From C: every function that raises (vaThrow, eh_throw, and every
 * function of korvo documented as raising a catalog message) must be called
 * inside the catch adapter, eh_catch_call, directly or through functions that
 * its callback calls: write the work as a callback, run it with
 * eh_catch_call, and read what it raised from the EhException it returns. A
 * raise that no adapter or C++ catch receives ends the process
 * (std::terminate): C frames cannot stop an exception, they are only passed
 * through, and what they hold is released only when it was handed to a frame
 * with ex_delegate.
 *
 *   static void load(void *context) { properties_load(context, "seg.plist"); }
 *   ...
 *   Properties list = {0};
 *   EhException *failure = eh_catch_call(load, &list);
 *   if (failure != NULL) {
 *       fprintf(stderr, "%s", eh_exception_text(failure));
 *       eh_exception_free(failure);
 *   }
 *
 * Ownership: eh_throw takes the record; an EhException returned by
 * eh_catch_call belongs to the caller (eh_exception_free, or
 * eh_exception_rethrow which consumes it); strings and lists its accessors
 * return live as long as it does.
 *
 * Threads: any thread raises and catches on its own frames; an EhException
 * is used by one thread at a time.
 */
#ifndef KORVO_RUNTIME_RAISE_H
#define KORVO_RUNTIME_RAISE_H

#include <stdint.h>

#include "runtime/korvo_export.h"
#include "runtime/stypes.h"
#include "runtime/typecode.h"

KORVO_BEGIN_DECLS

/* The type chain of the runtime's own error type (record ErrorRecord). */
#define EH_ERROR_CHAIN "Exception:UserException:SysAdminException::ExException:ExErrorMsg"

/* Raises a catalog message as an exception of the runtime's error type: the
 * record's type_name is EH_ERROR_CHAIN, catalog NULL, key 0, default_msg
 * "%7$M", time_stamp now, msg_context empty, and emsg one entry built by
 * msg_entry_build(catalog, number, text, ...). Its text is the rendered
 * entry. */
KORVO_NORETURN KORVO_RUNTIME_EXPORT void vaThrow(const char *catalog, int32_t number,
                                                 const char *text, ...);

/* Raises `record` (an mg block, taken over) under the type chain
 * `type_name`. The record's type code is the registered type named by the
 * chain's last name; a record of a chain derived from EH_ERROR_CHAIN whose
 * type is not registered is treated as an ErrorRecord. The exception frees
 * the record with its type code when it ends. */
KORVO_NORETURN KORVO_RUNTIME_EXPORT void eh_throw(const char *type_name, void *record);

/* Nonzero when the type chain `chain` matches the prefix `prefix` of whole
 * names (equal, or followed by a ':' that begins the next name). */
KORVO_RUNTIME_EXPORT int eh_chain_matches(const char *chain, const char *prefix);

/* Frames. ex_delegate hands `object` to the innermost open frame of the
 * calling thread, which calls destructor(object) when it closes, normally or
 * because an exception passes through it; objects are destroyed in reverse
 * order of delegation. ex_undelegate(object, 0) takes the latest delegation
 * of `object` back without destroying it. Frames are opened by C++ scopes
 * (korvo::rt::Frame) and by eh_catch_call around its callback; with no frame
 * open, objects wait for the thread's end. Both return 1, or 0 when nothing
 * was done (NULL arguments; an object not delegated; memory exhausted, in
 * which case ex_delegate destroys the object at once). */
KORVO_RUNTIME_EXPORT int ex_delegate(void *object, void (*destructor)(void *object));
KORVO_RUNTIME_EXPORT int ex_undelegate(void *object, void *unused);

/* The catch adapter for C. */
typedef struct EhException EhException;
typedef void (*EhTryFn)(void *context);

/* Runs fn(context) inside a frame. Returns NULL when it returns normally,
 * else the exception it raised (an exception that is not the runtime's is
 * wrapped as a runtime error whose text is its description). */
KORVO_RUNTIME_EXPORT EhException *eh_catch_call(EhTryFn fn, void *context);

/* Accessors. The message accessors read the record's first message entry
 * (NULL / 0 when there is none). */
KORVO_RUNTIME_EXPORT const char *eh_exception_catalog(const EhException *exception);
KORVO_RUNTIME_EXPORT int32_t eh_exception_number(const EhException *exception);
KORVO_RUNTIME_EXPORT const StringList *eh_exception_arguments(const EhException *exception);
/* The rendered message (what() of the C++ exception). */
KORVO_RUNTIME_EXPORT const char *eh_exception_text(const EhException *exception);
KORVO_RUNTIME_EXPORT const char *eh_exception_type_chain(const EhException *exception);
KORVO_RUNTIME_EXPORT int eh_exception_is_a(const EhException *exception, const char *chain_prefix);
/* The raised record and its type code (NULL when the type is unknown). */
KORVO_RUNTIME_EXPORT void *eh_exception_record(const EhException *exception);
KORVO_RUNTIME_EXPORT TypeCode eh_exception_type(const EhException *exception);
/* Raises the exception again; consumes it. */
KORVO_NORETURN KORVO_RUNTIME_EXPORT void eh_exception_rethrow(EhException *exception);
KORVO_RUNTIME_EXPORT void eh_exception_free(EhException *exception);

KORVO_END_DECLS

#endif
