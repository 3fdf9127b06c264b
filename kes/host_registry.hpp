// The machine's registry, through the host: one string value of a key under
// HKEY_LOCAL_MACHINE. POSIX has no system registry (a file stands in for it,
// which cds/ reads), so there every value is missing.
//
// One implementation per host: host_registry_posix.cc and
// host_registry_win32.cc. Threads: any; nothing is kept between calls.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace korvo::host {

// The string value `name` of the key `key` (a path below
// HKEY_LOCAL_MACHINE, such as "System\\CurrentControlSet\\Services\\X"),
// when the key can be opened for reading, the value is a string and it holds
// at most `longest` characters; nullopt otherwise.
std::optional<std::string> MachineRegistryString(const char *key, const char *name,
                                                 std::size_t longest);

}  // namespace korvo::host
