// Local time on a Windows host: _tzset, so that a changed TZ is followed,
// then _localtime64_s, which takes 64-bit times on both targets.
#include <time.h>

#include "kes/host_time.hpp"

namespace korvo::host {

bool LocalTime(int64_t seconds, std::tm *local) noexcept {
    const __time64_t value = seconds;
    ::_tzset();
    return ::_localtime64_s(local, &value) == 0;
}

}  // namespace korvo::host
