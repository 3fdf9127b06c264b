// The CDS client's home as the registry names it (the value "cds_home" of
// the key HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\CDSClient),
// and the reading of the small text files the loader consults.
//
// On Windows the value comes from the system registry; on POSIX from the
// registry file that stands in for it (cds_registry.hpp). One implementation
// per host: cds_client_home_posix.cc and cds_client_home_win32.cc; the file
// reading is shared (cds_text_file.cc). Threads: any; nothing is kept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace korvo::cds {

// Longest home, as the registry's 260-byte value buffer held it.
inline constexpr std::size_t kRegistryValueMax = 259;

// More than this is not a configuration file; only this much is read.
inline constexpr std::size_t kMaxConfigBytes = 1024 * 1024;

// What follows the home in the configuration file's path: the host's
// separator and "cds.cfg".
extern const char *const kClientConfigName;

// The client's home; nullopt when the key or the value is missing or the
// value is longer than kRegistryValueMax.
std::optional<std::string> registered_client_home();

// The first `limit` bytes of the regular file `path`; nullopt when it cannot
// be opened or is not a regular file. A FIFO or a device in its place is
// refused without blocking.
std::optional<std::string> read_text_file(const std::string &path, std::size_t limit);

}  // namespace korvo::cds
