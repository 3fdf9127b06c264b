// The runtime's host calls on Windows (see host_io.hpp): the C runtime's
// descriptors, always in binary mode (text mode would turn "\n" into
// "\r\n" in the log and the configuration reader) and never inherited.
#include "runtime/host_io.hpp"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace korvo::rt::host {

int open_regular_file(const char *path, bool *not_regular) {
    *not_regular = false;
    // Windows has no FIFOs in the file system, so opening cannot block; a
    // directory or a device is still refused.
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        return -1;
    struct _stat64 status;
    if (::_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
        *not_regular = true;
        ::_close(fd);
        return -1;
    }
    return fd;
}

int open_append_file(const char *path) {
    return ::_open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
}

int64_t read_some(int fd, void *buffer, std::size_t size) {
    const unsigned part = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    return ::_read(fd, buffer, part);
}

int64_t write_some(int fd, const void *data, std::size_t size) {
    const unsigned part = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    return ::_write(fd, data, part);
}

void close_file(int fd) {
    if (fd >= 0)
        ::_close(fd);
}

int standard_error_fd() {
    return 2;
}

bool utc_time(std::time_t when, std::tm *out) {
    return gmtime_s(out, &when) == 0;
}

int process_id() {
    return ::_getpid();
}

// The C runtime answers every number, the ones it does not know with the
// same "Unknown error" text; those have no description of their own.
const char *error_description(int error) {
    const char *text = std::strerror(error);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0)
        return nullptr;
    return text;
}

}  // namespace korvo::rt::host
