#include "receive_lock.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure.hpp"
#include "host_files.hpp"
#include "host_system.hpp"

namespace korvo::cli {

DistributionLock::DistributionLock(const std::string &progress_dir,
                                   const std::string &distribution) {
    const std::string path = progress_dir + "/" + distribution + ".lock";
    fd_ = host::open_write_no_follow(path, 0600);
    if (fd_ < 0)
        throw Failure(kExitFailed, "cannot keep the progress record of " + distribution + " in " +
                                       progress_dir + ": " + path + ": " + std::strerror(errno));
    if (const int why = host::try_lock_exclusive(fd_); why != 0) {
        char holder[32] = {};
        const int64_t n = host::read_at(fd_, holder, sizeof holder - 1, 0);
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
    const std::string pid = std::to_string(host::process_id()) + "\n";
    if (host::cut_file(fd_, 0) == 0)
        static_cast<void>(host::write_at(fd_, pid.data(), pid.size(), 0));
}

DistributionLock::~DistributionLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace korvo::cli
