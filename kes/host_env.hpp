// The process environment through the host: reading a variable, and adding a
// directory to the program search list ("PATH") with the host's separator.
//
// The library reads and changes the environment only through these calls;
// they serialise with each other, and a change never frees the text of an
// entry that another thread may still be reading (the new entry stays
// allocated for the life of the process), so a reader sees the old value or
// the new one. The Windows C runtime frees an entry it replaces: there a
// text that getenv returned may change under its reader, and only the
// copies GetEnvironment makes are safe. Threads: any thread.
#pragma once

#include <optional>
#include <string>

namespace korvo::host {

// The separator between the directories of "PATH": ':' here, ';' on Windows.
extern const char kSearchListSeparator;

// A copy of the variable `name`; nothing when it is unset.
std::optional<std::string> GetEnvironment(const char *name);

// Appends `directory` to "PATH" with the separator between; with "PATH"
// unset, the directory becomes the whole of it. The change stays for the
// life of the process. False when memory ran out, or on Windows when
// `directory` is not UTF-8 (nothing changed then).
bool AppendToSearchPath(const char *directory) noexcept;

}  // namespace korvo::host
