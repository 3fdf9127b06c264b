// Property files in their three layouts, through the library's own loads
// and saves:
//   plain   a 4-byte little-endian length, then the encoded list
//   marked  the big-endian marker 1 and a big-endian length, then the list
//   bare    the encoded list alone (progress records)
// A file's layout is found by loading it: the marked and plain loads check
// their header against the file's size, so at most one of them accepts a
// file; the bare load takes what both refused.
//
// Threads: main thread. Failures are Failures (a LibraryFailure with the
// catalog message of the last layout tried, or not found for a missing
// file).
#pragma once

#include <optional>
#include <string>

#include "properties/korvo_types.h"

namespace korvo::cli {

enum class Layout { kPlain, kMarked, kBare };

const char *layout_name(Layout layout);
// "plain", "marked", "bare"; a Failure (usage) otherwise.
Layout layout_named(const std::string &name);

// Loads `path` into the empty `list` in whichever layout it has and says
// which.
Layout load_any_layout(const std::string &path, Properties &list);
// Saves `list` to `path` in `layout` (the library replaces the file in one
// step).
void save_in_layout(const std::string &path, const Properties &list, Layout layout);

}  // namespace korvo::cli
