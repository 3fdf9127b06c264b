// Thread-exit work on Windows: each thread's list lives on the heap, named
// by one fiber-local storage slot whose callback the system calls with the
// list as the thread ends (or the slot is freed), whatever has become of
// the thread's emulated thread_local storage by then.
#include <windows.h>

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "runtime/thread_exit.hpp"

namespace korvo::rt {
namespace {

using ExitWork = std::vector<std::pair<ThreadExitFn, void *>>;

void WINAPI run_work(void *value) {
    std::unique_ptr<ExitWork> work(static_cast<ExitWork *>(value));
    if (!work)
        return;
    while (!work->empty()) {
        const auto [release, object] = work->back();
        work->pop_back();
        release(object);
    }
}

DWORD slot() {
    static const DWORD index = ::FlsAlloc(&run_work);
    return index;
}

}  // namespace

bool run_at_thread_exit(ThreadExitFn release, void *object) noexcept {
    const DWORD index = slot();
    if (index == FLS_OUT_OF_INDEXES)
        return false;
    try {
        auto *work = static_cast<ExitWork *>(::FlsGetValue(index));
        if (work == nullptr) {
            auto fresh = std::make_unique<ExitWork>();
            if (!::FlsSetValue(index, fresh.get()))
                return false;
            work = fresh.release();
        }
        work->emplace_back(release, object);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace korvo::rt
