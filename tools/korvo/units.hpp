// Texts for amounts, rates, durations and times as the korvo command shows
// them to people ("1.5 MiB", "3.2 MiB/s", "1m05s", local time). JSON output
// carries the exact numbers instead.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace korvo::cli {

// 1023 B, 1.0 KiB, 15.3 MiB, 2.00 GiB: three significant digits above 1 KiB.
std::string format_bytes(uint64_t bytes);
// "<1s", "42s", "3m05s", "2h07m".
std::string format_duration(double seconds);
// Local time as "2025-01-31 15:05:09".
std::string format_local_time(std::time_t when);

// An amount of bytes as people type it: "65536", "64K", "1.5M", "2G", "1T"
// (binary multiples; the letter in either case, optionally followed by
// "iB" or "B"). Nothing for anything else: an empty or negative amount, a
// sign, an unknown suffix, or more than 2^64 - 1 bytes.
std::optional<uint64_t> parse_byte_amount(std::string_view text);
// The forms parse_byte_amount takes, for messages: "65536, 64K, 1.5M, 2G, 1T".
extern const char *const kByteAmountForms;

}  // namespace korvo::cli
