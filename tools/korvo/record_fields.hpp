// Typed reads of a progress record's fields for the korvo command: each
// answers nothing (or false) when the key is missing or holds a value of
// another type, so that a record some other program wrote cannot make a
// listing fail. Values are copies; the list stays the caller's. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "properties/korvo_properties.h"

namespace korvo::cli {

// A string key holding a whole unsigned decimal number ("c_len", "t_len").
std::optional<uint64_t> record_decimal(const Properties &list, const char *key);

// A boolean key that holds true ("err", "paused", "close").
bool record_flag(const Properties &list, const char *key);

// A string key's text ("msid", "err_msg").
std::optional<std::string> record_text(const Properties &list, const char *key);

}  // namespace korvo::cli
