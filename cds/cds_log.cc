// The CDS trace output: standard error, flushed after every line.
#include <cstdarg>
#include <cstdio>

#include "cds/cds.h"

extern "C" void cds_log(int32_t, const char *format, ...) {
    if (format == nullptr)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fflush(stderr);
}
