// vaMThrow and vaMThrowChild: build a korvo exception record around one
// message entry and raise it. Raising needs memory for the record; when none
// can be had the process ends, as the failure could not be reported.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "properties/errors/korvo_exceptions.h"
#include "runtime/message.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"

namespace {

[[noreturn]] void out_of_memory() {
    std::fputs("korvo: out of memory while raising an exception\n", stderr);
    std::abort();
}

// Every korvo record fits in this many bytes, so a record raised under any
// korvo chain can be read and freed as the type the chain names.
constexpr size_t kLargestRecord =
    std::max(sizeof(ExKorvoException), sizeof(ExDistributionDeferred));

// The chain a record is raised under. One outside the error chain names no
// record type, so whoever catches it could free the record only as a block,
// losing its strings and its message: such a raise is the korvo base
// exception instead, with the same message.
const char *raised_chain(const char *type_name) {
    if (type_name == nullptr || !eh_chain_matches(type_name, EH_ERROR_CHAIN))
        return KORVO_EXCEPTION_CHAIN;
    return type_name;
}

// A zeroed record of at least `size` bytes holding the common members.
ExKorvoException *new_record(size_t size, const char *type_name, const char *catalog,
                             int32_t number, const char *text, va_list arguments) {
    auto *entry = static_cast<MessageEntry *>(mg_calloc(1, sizeof(MessageEntry)));
    if (entry == nullptr ||
        !msg_entry_vbuild(entry, catalog, number, text != nullptr ? text : "", arguments))
        out_of_memory();
    auto *record = static_cast<ExKorvoException *>(mg_calloc(1, std::max(size, kLargestRecord)));
    if (record == nullptr)
        out_of_memory();
    record->type_name = mg_strdup(raised_chain(type_name));
    record->default_msg = mg_strdup("%7$M");
    if (record->type_name == nullptr || record->default_msg == nullptr)
        out_of_memory();
    record->time_stamp = static_cast<int32_t>(std::time(nullptr));
    record->emsg = MessageList{1, 1, entry};
    return record;
}

}  // namespace

extern "C" {

void vaMThrow(const char *type_name, const char *catalog, int32_t number, const char *default_text,
              ...) {
    va_list arguments;
    va_start(arguments, default_text);
    ExKorvoException *record =
        new_record(kLargestRecord, type_name, catalog, number, default_text, arguments);
    va_end(arguments);
    eh_throw(record->type_name, record);
}

void vaMThrowChild(const char *type_name, const void *template_record, size_t size,
                   const char *catalog, int32_t number, const char *default_text, ...) {
    va_list arguments;
    va_start(arguments, default_text);
    ExKorvoException *record =
        new_record(size, type_name, catalog, number, default_text, arguments);
    va_end(arguments);
    if (template_record != nullptr && size > sizeof(ExKorvoException))
        std::memcpy(reinterpret_cast<char *>(record) + sizeof(ExKorvoException),
                    static_cast<const char *>(template_record) + sizeof(ExKorvoException),
                    size - sizeof(ExKorvoException));
    eh_throw(record->type_name, record);
}
}
