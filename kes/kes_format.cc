// KesStringSprintf: the format is rewritten for the host's C library and
// handed to vsprintf with the caller's arguments.
#include "kes/kes_format.h"

#include <cstdarg>
#include <cstdio>

#include "kes/kes_format.hpp"

namespace korvo::kes {

KesText HostFormat(const char *format) noexcept {
    const std::string_view text(format);
    KesText copy(static_cast<char *>(KesMemoryMalloc(RewrittenFormatSize(text, kHostLongLong))));
    if (copy)
        RewriteFormat(text, kHostLongLong, copy.get());
    return copy;
}

}  // namespace korvo::kes

extern "C" {

int KesStringSprintf(char *dst, const char *format, ...) {
    if (dst == nullptr)
        return -1;
    dst[0] = '\0';
    if (format == nullptr)
        return -1;
    const korvo::kes::KesText host = korvo::kes::HostFormat(format);
    if (!host)
        return -1;
    va_list args;
    va_start(args, format);
    const int written = std::vsprintf(dst, host.get(), args);
    va_end(args);
    return written;
}
}
