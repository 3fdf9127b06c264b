// One writer per distribution: a receive holds an exclusive lock on
// "<progress dir>/<id>.lock" for as long as it runs, so that a second
// receive of the same distribution into the same work directory is refused
// instead of writing the same outputs and record. The lock is the kernel's
// (flock; LockFileEx on Windows): it goes with the process, however that
// ends (kill -9 included), and the file, which stays behind, holds the
// process id of the last holder for the message.
//
// Ownership: a DistributionLock owns its descriptor; the lock ends with it.
// Threads: main thread.
#pragma once

#include <string>

namespace korvo::cli {

class DistributionLock {
  public:
    // Takes the lock without waiting; a Failure (exit 1) names the holder
    // when another process has it.
    DistributionLock(const std::string &progress_dir, const std::string &distribution);
    ~DistributionLock();
    DistributionLock(const DistributionLock &) = delete;
    DistributionLock &operator=(const DistributionLock &) = delete;

  private:
    int fd_ = -1;
};

}  // namespace korvo::cli
