// Rendering texts with positional placeholders ("%N$x"): message entries
// with their arguments, and exception records with their members.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/stypes.h"

namespace korvo::rt {

// Copies `text` (NULL: empty), turning "%%" into '%' and handing each "%N$x"
// placeholder (digits, '$', a letter) to fill(N, x, out), which appends its
// replacement and returns true, or returns false to keep the placeholder as
// written.
template <typename Fill>
std::string render_placeholders(const char *text, Fill &&fill) {
    std::string out;
    if (text == nullptr)
        return out;
    for (const char *p = text; *p != '\0';) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        const char *q = p + 1;
        uint32_t number = 0;
        while (*q >= '0' && *q <= '9') {
            if (number < 100000)
                number = number * 10 + static_cast<uint32_t>(*q - '0');
            ++q;
        }
        const bool placeholder = q > p + 1 && q[0] == '$' &&
                                 ((q[1] >= 'a' && q[1] <= 'z') || (q[1] >= 'A' && q[1] <= 'Z'));
        if (placeholder && fill(number, q[1], out)) {
            p = q + 2;
        } else {
            const char *end = placeholder ? q + 2 : p + 1;
            out.append(p, end);
            p = end;
        }
    }
    return out;
}

// A message entry's text with its arguments filled in.
std::string render_entry(const MessageEntry &entry);

// An exception record's display text: its default_msg with "%N$x" replaced
// by member N (a message list as its rendered entries, a string as itself, a
// number in decimal). `layout` is the record's type code.
std::string render_record(const void *record, TypeCode layout);

}  // namespace korvo::rt
