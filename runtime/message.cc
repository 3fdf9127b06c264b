// Building message entries from a catalog text and its arguments, and
// rendering them back as text.
#include "runtime/message.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "runtime/generic.h"
#include "runtime/host_io.hpp"
#include "runtime/mg_memory.h"
#include "runtime/render.hpp"
#include "runtime/stypes.h"

namespace korvo::rt {
namespace {

constexpr const char *kIllegalFormat = "Format has illegal types (%1$s)";

std::string errno_text(int error) {
    if (const char *text = host::error_description(error))
        return text;
    return "errno=" + std::to_string(error);
}

// Converts the arguments in placeholder order; false on a format error.
bool convert_arguments(const char *text, va_list arguments, int saved_errno,
                       std::vector<std::string> &out) {
    for (const char *p = std::strchr(text, '%'); p != nullptr; p = std::strchr(p, '%')) {
        if (p[1] == '%') {
            p += 2;
            continue;
        }
        const char *q = p + 1;
        while ((*q >= '0' && *q <= '9') || *q == '.')
            ++q;
        if (*q != '$')
            return false;
        switch (q[1]) {
            case 'd':
            case 'o':
            case 'u':
            case 'x':
            case 'X': {
                const auto number = static_cast<uint32_t>(va_arg(arguments, int));
                out.push_back(std::to_string(number));
                break;
            }
            case 's': {
                const char *string = va_arg(arguments, const char *);
                if (string == nullptr)
                    out.emplace_back("(null)");
                else if (std::strcmp(string, "$errno") == 0)
                    out.push_back(errno_text(saved_errno));
                else
                    out.emplace_back(string);
                break;
            }
            default:
                return false;
        }
        p = q + 2;
    }
    return true;
}

// Fills a zeroed entry; false when memory is exhausted (the entry then holds
// what was built so far, for the caller to free).
bool fill_entry(MessageEntry &entry, const char *catalog, int32_t number, const char *text,
                const std::vector<std::string> &arguments) {
    entry.number = number;
    if (catalog != nullptr && (entry.catalog = mg_strdup(catalog)) == nullptr)
        return false;
    if ((entry.default_msg = mg_strdup(text)) == nullptr)
        return false;
    auto *list = static_cast<StringList *>(mg_calloc(1, sizeof(StringList)));
    if (list == nullptr)
        return false;
    entry.args = Any{TC_Vem_Types_StringList, list};
    if (arguments.empty())
        return true;
    // The list is {count, count, array}: exactly as many slots as strings.
    const auto count = static_cast<uint32_t>(arguments.size());
    list->buffer = static_cast<char **>(mg_calloc(count, sizeof(char *)));
    if (list->buffer == nullptr)
        return false;
    list->maximum = count;
    for (const std::string &argument : arguments) {
        char *copy = mg_strdup(argument.c_str());
        if (copy == nullptr)
            return false;
        list->buffer[list->length++] = copy;
    }
    return true;
}

}  // namespace

std::string render_entry(const MessageEntry &entry) {
    const StringList *arguments = nullptr;
    if (entry.args.value != nullptr &&
        TypeCode_equal(entry.args.type, nullptr, TC_Vem_Types_StringList))
        arguments = static_cast<const StringList *>(entry.args.value);
    // The arguments were stored in the order the placeholders appear, so the
    // n-th placeholder that appears takes the n-th argument, whatever its
    // number says (a text may number its placeholders out of order).
    uint32_t appeared = 0;
    return render_placeholders(entry.default_msg, [&](uint32_t, char, std::string &out) {
        const uint32_t n = ++appeared;
        if (arguments == nullptr || n > arguments->length)
            return false;
        const char *argument = arguments->buffer[n - 1];
        if (argument == nullptr)
            return false;
        out += argument;
        return true;
    });
}

}  // namespace korvo::rt

using namespace korvo::rt;

extern "C" {

int msg_entry_vbuild(MessageEntry *entry, const char *catalog, int32_t number, const char *text,
                     va_list arguments) {
    const int saved_errno = errno;
    if (entry == nullptr)
        return 0;
    *entry = MessageEntry{};
    if (text == nullptr)
        return 0;
    try {
        std::vector<std::string> converted;
        va_list copy;
        va_copy(copy, arguments);
        const bool well_formed = convert_arguments(text, copy, saved_errno, converted);
        va_end(copy);
        bool filled;
        if (well_formed) {
            filled = fill_entry(*entry, catalog, number, text, converted);
        } else {
            filled = fill_entry(*entry, nullptr, 0, kIllegalFormat, {text});
        }
        if (filled)
            return 1;
    } catch (const std::bad_alloc &) {
    }
    vem_free_generic(entry, TC_Vem_Types_XOpenMessageEntry);
    return 0;
}

int msg_entry_build(MessageEntry *entry, const char *catalog, int32_t number, const char *text,
                    ...) {
    va_list arguments;
    va_start(arguments, text);
    const int built = msg_entry_vbuild(entry, catalog, number, text, arguments);
    va_end(arguments);
    return built;
}

char *msg_entry_render(const MessageEntry *entry) {
    if (entry == nullptr)
        return nullptr;
    try {
        return mg_strdup(render_entry(*entry).c_str());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
}
