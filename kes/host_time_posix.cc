// Local time on a POSIX host: tzset, so that a changed TZ is followed as
// localtime follows it, then the reentrant localtime_r.
#include <time.h>

#include "kes/host_time.hpp"

namespace korvo::host {

bool LocalTime(int64_t seconds, std::tm *local) noexcept {
    const time_t value = static_cast<time_t>(seconds);
    if (static_cast<int64_t>(value) != seconds)
        return false;
    ::tzset();
    return ::localtime_r(&value, local) != nullptr;
}

}  // namespace korvo::host
