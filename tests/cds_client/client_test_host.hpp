// What the client's tests do on the host beside the client: hold a
// download's lock the way a running download does, and make a FIFO where
// the host has them (client_test_host_posix.cc, client_test_host_win32.cc).
// One thread uses an object at a time.
#pragma once

#include <cstdint>
#include <string>

namespace cds_test {

// Holds the lock file `path` (which exists) as a live download holds its
// own, until the object goes.
class HeldLock {
  public:
    explicit HeldLock(const std::string &path);
    ~HeldLock();
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;
    bool held() const { return held_; }

  private:
    std::intptr_t handle_ = -1;
    bool held_ = false;
};

// Makes a FIFO at `path`; false where the host has no FIFOs.
bool make_fifo(const std::string &path);

}  // namespace cds_test
