// File owners on POSIX: the owning user id of the file's status, named
// through the password database; permissions are the owner's mode bits.
#include "kes/host_security.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kes/kes_account.hpp"

namespace korvo::host {

int FileOwnerName(const char *path, char *name, std::size_t size, OwnerFailure *failure) noexcept {
    *failure = OwnerFailure::kNone;
    if (size > 0)
        name[0] = '\0';
    struct stat st;
    if (::stat(path, &st) != 0) {
        *failure = OwnerFailure::kFile;
        return errno;
    }
    if (const int error = kes::AccountName(st.st_uid, name, size); error != 0) {
        if (size > 0)
            name[0] = '\0';
        *failure = OwnerFailure::kAccount;
        return error;
    }
    return 0;
}

bool PathOwnedBySelf(const char *path) noexcept {
    struct stat st;
    return ::stat(path, &st) == 0 && st.st_uid == ::geteuid();
}

bool DescriptorOwnedBySelf(int fd) noexcept {
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
}

int SetOwnerReadWrite(const char *path, bool read, bool write) noexcept {
    // Only the owner's read and write bits change: the others carry the
    // owner's execute right, the group's (or, with an ACL, the mask's) and
    // others' rights, which the rights word does not speak of.
    struct stat st;
    if (::stat(path, &st) != 0)
        return errno;
    mode_t mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_IRUSR | S_IWUSR);
    if (read)
        mode |= S_IRUSR;
    if (write)
        mode |= S_IWUSR;
    return ::chmod(path, mode) == 0 ? 0 : errno;
}

}  // namespace korvo::host
