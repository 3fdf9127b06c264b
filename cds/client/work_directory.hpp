// The working directory of one running download, downloads/<name>/, and its
// lock file downloads/<name>.lock, which the download holds (flock) for as
// long as it runs. <name> is 16 random hex digits, so processes never meet
// on a name, whichever pid namespace they run in. A lock that nobody holds
// belongs to a process that has ended: clean_stale_downloads() removes such
// a download's directory and lock, and the directories of this form that
// have no lock at all; a running download's (its lock held) stays.
//
// The lock file appears already locked: it is made as <name>.new, locked,
// and only then linked to <name>.lock; the directory follows the lock and
// is removed before it. A <name>.new that nobody holds is a creation that
// never finished. Owned by one thread at a time.
#pragma once

#include <optional>
#include <string>

#include "cds/client/descriptor.hpp"

namespace cdsclient {

class WorkDirectory {
  public:
    // A new working directory under `downloads`; nullopt when none can be
    // made.
    static std::optional<WorkDirectory> create(const std::string &downloads);

    WorkDirectory(WorkDirectory &&other) noexcept;
    WorkDirectory(const WorkDirectory &) = delete;
    WorkDirectory &operator=(const WorkDirectory &) = delete;
    WorkDirectory &operator=(WorkDirectory &&) = delete;
    // Removes the directory with everything in it, then the lock.
    ~WorkDirectory();

    const std::string &path() const { return path_; }

  private:
    WorkDirectory(std::string path, Descriptor lock)
        : path_(std::move(path)), lock_(std::move(lock)) {}
    std::string path_;
    Descriptor lock_;
};

// Removes what downloads of ended processes left in `downloads`. Looks at
// no more than the first 1000 entries per call.
void clean_stale_downloads(const std::string &downloads);

}  // namespace cdsclient
