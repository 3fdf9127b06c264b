// The gateway peer's transcript: one line per event on standard output,
// flushed at once so that a reader sees it as it happens.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "runtime/korvo_export.h"

namespace korvo::gateway {

class Transcript {
  public:
    explicit Transcript(bool quiet) : quiet_(quiet) {}

    KORVO_PRINTF_FORMAT(2, 3) void line(const char *format, ...) const {
        if (quiet_)
            return;
        std::fputs("gateway: ", stdout);
        va_list arguments;
        va_start(arguments, format);
        std::vfprintf(stdout, format, arguments);
        va_end(arguments);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

  private:
    bool quiet_;
};

}  // namespace korvo::gateway
