// Thread-exit work on POSIX hosts: a thread_local list whose destructor,
// which the C++ runtime runs as the thread ends, calls the work latest
// first.
#include <new>
#include <utility>
#include <vector>

#include "runtime/thread_exit.hpp"

namespace korvo::rt {
namespace {

class ExitWork {
  public:
    ~ExitWork() {
        while (!work_.empty()) {
            const auto [release, object] = work_.back();
            work_.pop_back();
            release(object);
        }
    }
    bool add(ThreadExitFn release, void *object) noexcept {
        try {
            work_.emplace_back(release, object);
            return true;
        } catch (const std::bad_alloc &) {
            return false;
        }
    }

  private:
    std::vector<std::pair<ThreadExitFn, void *>> work_;
};

}  // namespace

bool run_at_thread_exit(ThreadExitFn release, void *object) noexcept {
    thread_local ExitWork work;
    return work.add(release, object);
}

}  // namespace korvo::rt
