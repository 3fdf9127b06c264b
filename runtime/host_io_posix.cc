// The runtime's host calls on POSIX hosts (see host_io.hpp).
#include "runtime/host_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvo::rt::host {

int open_regular_file(const char *path, bool *not_regular) {
    *not_regular = false;
    // Opened without blocking: a FIFO would wait for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *not_regular = true;
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int open_append_file(const char *path) {
    return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

int64_t read_some(int fd, void *buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int64_t write_some(int fd, const void *data, std::size_t size) {
    for (;;) {
        const ssize_t written = ::write(fd, data, size);
        if (written >= 0 || errno != EINTR)
            return written;
    }
}

void close_file(int fd) {
    if (fd >= 0)
        ::close(fd);
}

int standard_error_fd() {
    return STDERR_FILENO;
}

bool utc_time(std::time_t when, std::tm *out) {
    return gmtime_r(&when, out) != nullptr;
}

int process_id() {
    return static_cast<int>(::getpid());
}

const char *error_description(int error) {
    return strerrordesc_np(error);
}

}  // namespace korvo::rt::host
