// Who owns a file, through the host: the owner's account name, whether the
// account the process runs as owns a file, and the owner's read and write
// permissions. Paths are host paths (a Kes operation's localised copy).
//
// The calls answer 0 or the host's error number (errno on POSIX, the
// Windows error on Windows); the Kes operations add 200 where their statuses
// say so. Nothing is kept between calls; any thread.
//
// One implementation per host: host_security_posix.cc and
// host_security_win32.cc.
#pragma once

#include <cstddef>

namespace korvo::host {

// Where reading a file's owner failed.
enum class OwnerFailure {
    kNone,
    kFile,     // the file's owner could not be read (no such file, say)
    kAccount,  // the owner has no account name, or it does not fit
};

// The account name (without a domain) of the owner of `path` into `name` of
// `size` bytes. On failure `*failure` says which part failed and `name` is
// left empty.
int FileOwnerName(const char *path, char *name, std::size_t size, OwnerFailure *failure) noexcept;

// Whether the account the process runs as owns `path` (followed when it is
// a link) or the open descriptor `fd`. False when that cannot be told.
bool PathOwnedBySelf(const char *path) noexcept;
bool DescriptorOwnedBySelf(int fd) noexcept;

// Gives the owner of `path` read permission when `read`, write permission
// when `write`, and takes them away otherwise; other permissions stay.
int SetOwnerReadWrite(const char *path, bool read, bool write) noexcept;

}  // namespace korvo::host
