// Texts for amounts, rates, durations and times as the korvo command shows
// them to people ("1.5 MiB", "3.2 MiB/s", "1m05s", local time). JSON output
// carries the exact numbers instead.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace korvo::cli {

// 1023 B, 1.0 KiB, 15.3 MiB, 2.00 GiB: three significant digits above 1 KiB.
std::string format_bytes(uint64_t bytes);
// "<1s", "42s", "3m05s", "2h07m".
std::string format_duration(double seconds);
// Local time as "2025-01-31 15:05:09".
std::string format_local_time(std::time_t when);

}  // namespace korvo::cli
