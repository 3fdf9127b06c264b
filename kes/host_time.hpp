// Calendar time through the host: a time in seconds since 1970 as local time
// in the zone the environment names at the moment of the call.
// Threads: any thread; nothing is shared between calls.
#pragma once

#include <cstdint>
#include <ctime>

namespace korvo::host {

// Fills `local` with the local time of `seconds`; false when the time cannot
// be represented as a local time.
bool LocalTime(int64_t seconds, std::tm *local) noexcept;

}  // namespace korvo::host
