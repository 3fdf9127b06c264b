// Renaming over a file on a POSIX host: rename(2) replaces the target in
// one step, whoever holds it open, so a path never names nothing.
#include "kes/host_replace.hpp"

#include <cerrno>
#include <cstdio>

#include "kes/host_file.hpp"

namespace korvo::host {

bool RenameReplacing(const char *from, const char *to) noexcept {
    if (from == nullptr || to == nullptr) {
        errno = EFAULT;
        return false;
    }
    return ::rename(from, to) == 0;
}

int OpenFileOrReplacement(const char *path, unsigned flags) noexcept {
    return OpenFile(path, flags);
}

}  // namespace korvo::host
