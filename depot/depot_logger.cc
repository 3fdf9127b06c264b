// The trace logger: one line formatted into a buffer of 1024 bytes and
// handed to the runtime log as text.
#include "depot/depot_logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "runtime/log.h"

namespace {

constexpr size_t kLineSize = 1024;
// Room the format leaves for its arguments: a longer format is not logged.
constexpr size_t kArgumentRoom = 50;

}  // namespace

extern "C" void Logger(int32_t level, const char *format, ...) {
    if (format == nullptr)
        return;
    const size_t formatLength = std::strlen(format);
    if (formatLength + kArgumentRoom > kLineSize)
        return;
    char line[kLineSize];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (written < 0)
        return;
    // A cut line keeps its line feed, so that it stays one line in the log.
    if (static_cast<size_t>(written) >= kLineSize && formatLength > 0 &&
        format[formatLength - 1] == '\n')
        line[kLineSize - 2] = '\n';
    LogMsg(level, 0, 0, -1, "%s", line);
}
