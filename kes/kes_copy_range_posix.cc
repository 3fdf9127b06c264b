// In-kernel copies and file shapes on Linux: copy_file_range and statx.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "kes/kes_copy_range.hpp"
#include "kes/kes_fd.hpp"

namespace korvo::kes {

namespace {

// Errors with which the kernel says "not between these files", as opposed
// to a failure of the files themselves.
bool refuses_copy(int error) {
    switch (error) {
        case EXDEV:       // different file systems
        case EINVAL:      // not regular files, or flags the file system lacks
        case ESPIPE:      // a pipe or a FIFO, which has no places
        case ENOSYS:      // a kernel without the call
        case EOPNOTSUPP:  // the file system does not offer it
        case EBADF:       // the output is opened for appending
        case ETXTBSY:
        case EISDIR:
            return true;
        default:
            return false;
    }
}

KesStatus *fill(KesStatus *status, int32_t code, int32_t os_error) {
    if (status != nullptr)
        *status = KesStatus{code, os_error, code == KES_OK ? 0 : 1};
    return status;
}

// One call moves at most this much (the kernel's own limit is near 2 GiB).
constexpr int64_t kMostPerCall = int64_t{1} << 30;

}  // namespace

int64_t KesCopyRange(int in, int64_t from, int out, int64_t at, int64_t length, KesStatus *status) {
    fill(status, KES_OK, 0);
    if (in < 0 || out < 0 || from < 0 || at < 0 || length < 0) {
        fill(status, KES_INVALID, 0);
        return -1;
    }
    int64_t copied = 0;
    while (copied < length) {
        loff_t in_at = from + copied;
        loff_t out_at = at + copied;
        const auto want = static_cast<size_t>(std::min(length - copied, kMostPerCall));
        const ssize_t n =
            RetryInterrupted([&] { return ::copy_file_range(in, &in_at, out, &out_at, want, 0); });
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n == 0)
            break;  // the end of `in`
        if (copied > 0)
            break;  // report what was copied; the next call meets the error again
        fill(status, refuses_copy(errno) ? KES_UNSUPPORTED : KES_SYSTEM_ERROR, errno);
        return -1;
    }
    return copied;
}

bool KesFileShapeOf(int fd, KesFileShape *shape) {
    if (fd < 0 || shape == nullptr)
        return false;
    struct statx st {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT,
                STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME, &st) != 0)
        return false;
    shape->device = (static_cast<uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
    shape->inode = st.stx_ino;
    shape->size = static_cast<int64_t>(st.stx_size);
    shape->modified_ns = st.stx_mtime.tv_sec * int64_t{1000000000} + st.stx_mtime.tv_nsec;
    shape->changed_ns = st.stx_ctime.tv_sec * int64_t{1000000000} + st.stx_ctime.tv_nsec;
    return true;
}

}  // namespace korvo::kes
