// The client tests' host steps on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/cds_client/client_test_host.hpp"

namespace cds_test {

HeldLock::HeldLock(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    handle_ = fd;
    held_ = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
}

HeldLock::~HeldLock() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

bool make_fifo(const std::string &path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

}  // namespace cds_test
