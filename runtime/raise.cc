// Raising (vaThrow, eh_throw), the C catch adapter and the environment
// record. Raising needs memory for the record it raises; when none can be
// had, the process ends, as there is no way left to report the failure.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>

#include "runtime/env.h"
#include "runtime/message.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"

struct EhException {
    korvo::rt::Exception exception;
};

namespace korvo::rt {
namespace {

[[noreturn]] void out_of_memory() {
    std::fputs("korvo_runtime: out of memory while raising an exception\n", stderr);
    std::abort();
}

// A record of the runtime's error type holding `entry` (taken over).
ErrorRecord *new_error_record(const MessageEntry &entry) {
    auto *record = static_cast<ErrorRecord *>(mg_calloc(1, sizeof(ErrorRecord)));
    auto *entries = static_cast<MessageEntry *>(mg_calloc(1, sizeof(MessageEntry)));
    if (record == nullptr || entries == nullptr)
        out_of_memory();
    record->type_name = mg_strdup(EH_ERROR_CHAIN);
    record->default_msg = mg_strdup("%7$M");
    if (record->type_name == nullptr || record->default_msg == nullptr)
        out_of_memory();
    record->time_stamp = static_cast<int32_t>(std::time(nullptr));
    entries[0] = entry;
    record->emsg = MessageList{1, 1, entries};
    return record;
}

Exception error_exception(const char *catalog, int32_t number, const char *text,
                          va_list arguments) {
    MessageEntry entry;
    if (!msg_entry_vbuild(&entry, catalog, number, text != nullptr ? text : "", arguments))
        out_of_memory();
    return Exception(EH_ERROR_CHAIN, new_error_record(entry));
}

Exception describe(const char *what) {
    MessageEntry entry;
    if (!msg_entry_build(&entry, nullptr, 0, "%1$s", what))
        out_of_memory();
    return Exception(EH_ERROR_CHAIN, new_error_record(entry));
}

EhException *hold(const Exception &exception) {
    return std::make_unique<EhException>(EhException{exception}).release();
}

}  // namespace
}  // namespace korvo::rt

using korvo::rt::Exception;

extern "C" {

void vaThrow(const char *catalog, int32_t number, const char *text, ...) {
    va_list arguments;
    va_start(arguments, text);
    Exception exception = korvo::rt::error_exception(catalog, number, text, arguments);
    va_end(arguments);
    throw exception;
}

void eh_throw(const char *type_name, void *record) {
    throw Exception(type_name, record);
}

EhException *eh_catch_call(EhTryFn fn, void *context) {
    if (fn == nullptr)
        return nullptr;
    try {
        korvo::rt::Frame frame;
        fn(context);
        return nullptr;
    } catch (const Exception &exception) {
        return korvo::rt::hold(exception);
    } catch (const std::exception &exception) {
        return korvo::rt::hold(korvo::rt::describe(exception.what()));
    } catch (...) {
        return korvo::rt::hold(korvo::rt::describe("an exception of unknown type"));
    }
}

const char *eh_exception_catalog(const EhException *e) {
    return e != nullptr ? e->exception.catalog() : nullptr;
}

int32_t eh_exception_number(const EhException *e) {
    return e != nullptr ? e->exception.number() : 0;
}

const StringList *eh_exception_arguments(const EhException *e) {
    return e != nullptr ? e->exception.arguments() : nullptr;
}

const char *eh_exception_text(const EhException *e) {
    return e != nullptr ? e->exception.what() : nullptr;
}

const char *eh_exception_type_chain(const EhException *e) {
    return e != nullptr ? e->exception.type_chain() : nullptr;
}

int eh_exception_is_a(const EhException *e, const char *chain_prefix) {
    return e != nullptr && e->exception.is_a(chain_prefix) ? 1 : 0;
}

void *eh_exception_record(const EhException *e) {
    return e != nullptr ? e->exception.record() : nullptr;
}

TypeCode eh_exception_type(const EhException *e) {
    return e != nullptr ? e->exception.type() : nullptr;
}

void eh_exception_rethrow(EhException *e) {
    if (e == nullptr)
        vaThrow(nullptr, 0, "A NULL exception was raised again.\n");
    std::unique_ptr<EhException> owned(e);
    Exception exception = owned->exception;
    owned.reset();
    throw exception;
}

void eh_exception_free(EhException *e) {
    std::unique_ptr<EhException> owned(e);
}

void vaRaiseException(Env *env, const char *catalog, int32_t number, const char *format, ...) {
    if (env == nullptr)
        return;
    va_list arguments;
    va_start(arguments, format);
    Exception exception = korvo::rt::error_exception(catalog, number, format, arguments);
    va_end(arguments);
    env_clear(env);
    env->exception = korvo::rt::hold(exception);
    env->failed = 1;
}

void ev_to_exception(Env *env) {
    if (env == nullptr || env->failed == 0)
        return;
    EhException *exception = env->exception;
    *env = Env{0, 0, nullptr};
    if (exception == nullptr)
        vaThrow(nullptr, -1, "A failure was recorded without its exception.\n");
    eh_exception_rethrow(exception);
}

void env_clear(Env *env) {
    if (env == nullptr)
        return;
    if (env->failed != 0)
        eh_exception_free(env->exception);
    *env = Env{0, 0, nullptr};
}
}
