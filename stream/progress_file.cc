// Rewriting a progress file in place through the descriptor its record
// keeps.
#include "stream/progress_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "kes/kes_fd.hpp"
#include "kes/kes_replace.hpp"

namespace korvo::stream {

namespace {

long page_size() {
    static const long size = [] {
        const long value = ::sysconf(_SC_PAGESIZE);
        return value > 0 ? value : 4096;
    }();
    return size;
}

// Whether the held file still has one name (its own) and `length` bytes.
// Only the link count and the size are asked for: asking for the file's
// times as well (fstat does) marks them as seen, and a file system with
// fine-grained timestamps then updates them at the next write.
bool holds_only_name(const ProgressFile &file, uint32_t length) {
    struct statx status;
    if (::statx(file.fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_NLINK | STATX_SIZE,
                &status) != 0 ||
        (status.stx_mask & (STATX_NLINK | STATX_SIZE)) != (STATX_NLINK | STATX_SIZE))
        return false;
    return status.stx_nlink == 1 && status.stx_size == length;
}

}  // namespace

uint32_t in_place_limit() {
    return static_cast<uint32_t>(page_size());
}

bool rewrite_in_place(ProgressFile &file, const uint8_t *bytes, uint32_t length) {
    if (!file.open || length != file.size || length == 0 || length > page_size())
        return false;
    if (!holds_only_name(file, length))
        return false;
    ssize_t written;
    do {
        written = ::pwrite(file.fd, bytes, length, 0);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(length);
}

void hold_replaced(ProgressFile &file, const char *path, uint32_t length) {
    close_progress_file(file);
    // The record's own file, never a link planted in its place.
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return;
    }
    file.open = true;
    file.fd = fd;
    file.size = length;
    file.renamed = true;
}

void close_progress_file(ProgressFile &file) {
    if (file.open)
        ::close(file.fd);
    file.open = false;
    file.fd = -1;
    file.size = 0;
    file.renamed = false;
}

bool sync_progress_file(ProgressFile &file, const char *dir) {
    if (!file.open || ::fsync(file.fd) != 0)
        return false;
    if (!file.renamed)
        return true;
    const int directory = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    const bool synced = ::fsync(directory) == 0;
    ::close(directory);
    file.renamed = !synced;
    return synced;
}

void give_finished_file(const char *path) {
    const kes::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat status;
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size <= 0 || status.st_size > static_cast<off_t>(in_place_limit()))
        return;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // it changed under us: leave it as it is
        done += static_cast<std::size_t>(n);
    }
    kes::FileReplacement replacement(path);
    if (replacement.write(bytes.data(), bytes.size()))
        replacement.commit();
}

}  // namespace korvo::stream
