#include "receive_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure.hpp"

namespace korvo::cli {

DistributionLock::DistributionLock(const std::string &progress_dir,
                                   const std::string &distribution) {
    const std::string path = progress_dir + "/" + distribution + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw Failure(kExitFailed, "cannot keep the progress record of " + distribution + " in " +
                                       progress_dir + ": " + path + ": " + std::strerror(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        char holder[32] = {};
        const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
        std::string pid(holder, n > 0 ? static_cast<size_t>(n) : 0);
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
            pid.pop_back();
        ::close(fd_);
        fd_ = -1;
        if (why != EWOULDBLOCK)
            throw Failure(kExitFailed, "cannot lock " + path + ": " + std::strerror(why));
        throw Failure(kExitFailed, "another korvo receive of " + distribution +
                                       " is running with this work directory" +
                                       (pid.empty() ? std::string() : " (process " + pid + ")") +
                                       "; one distribution has one writer: wait for it to end");
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0)
        static_cast<void>(::pwrite(fd_, pid.data(), pid.size(), 0));
}

DistributionLock::~DistributionLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace korvo::cli
