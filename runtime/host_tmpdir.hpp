// The host's own directory for temporary files, the last choice of
// cpl_tmpdir: "/tmp" on POSIX, GetTempPathA's answer on Windows (which
// follows TMP, TEMP and the user's profile), without a trailing separator
// unless it is a drive's root.
//
// The text belongs to the runtime and stays good on the calling thread until
// its next call. One implementation per host: host_tmpdir_posix.cc and
// host_tmpdir_win32.cc. Threads: any.
#pragma once

namespace korvo::rt {

const char *HostTempDirectory() noexcept;

}  // namespace korvo::rt
