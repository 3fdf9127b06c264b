// Formatting a printf format whose conversions are numbered ("%1$s",
// "%2$d"), for C libraries that do not know numbered conversions (the
// Windows C runtime): the arguments are taken in number order with the type
// each conversion names, and each conversion is formatted on its own.
// Pure; any thread.
#pragma once

#include <cstdarg>
#include <string>

namespace korvo::rt {

// True, with the text in *out, when `format` numbers its conversions and
// every number from 1 to the highest has one; false (nothing taken from
// `arguments`) for a format without numbered conversions or one this
// cannot read ('*' widths, %n, gaps), which the caller formats as usual.
bool format_positional(const char *format, va_list arguments, std::string *out);

}  // namespace korvo::rt
