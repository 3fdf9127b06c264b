// Exception frames: a per-thread stack of frames, each a list of objects to
// destroy when the frame closes. Level 0 is the thread's own frame, for
// objects delegated while no frame is open; it closes when the thread ends.
#include <memory>
#include <new>
#include <vector>

#include "runtime/log.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"
#include "runtime/thread_exit.hpp"

namespace korvo::rt {
namespace {

struct Delegation {
    void *object;
    void (*destructor)(void *);
};

class FrameStack {
  public:
    FrameStack() : frames_(1) {}
    ~FrameStack() { close_to(0); }

    size_t open() {
        frames_.emplace_back();
        return frames_.size() - 1;
    }

    // Closes the frames at `level` and above (level 0: empties the thread's
    // own frame), destroying their objects, latest first. A frame's list is
    // taken out before its objects are destroyed, so that a destructor may
    // delegate or open frames itself.
    void close_to(size_t level) {
        // The usual close: the top frame, with nothing delegated to it.
        if (level > 0 && frames_.size() == level + 1 && frames_.back().empty()) {
            frames_.pop_back();
            return;
        }
        for (;;) {
            if (level > 0 && frames_.size() <= level)
                return;
            std::vector<Delegation> doomed = std::move(frames_.back());
            frames_.back().clear();
            const bool bottom = frames_.size() == 1;
            if (!bottom)
                frames_.pop_back();
            for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
                destroy(*it);
            if (bottom && frames_[0].empty())
                return;
        }
    }

    void delegate(void *object, void (*destructor)(void *)) {
        frames_.back().push_back(Delegation{object, destructor});
    }

    bool undelegate(void *object) {
        for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame) {
            for (auto it = frame->rbegin(); it != frame->rend(); ++it) {
                if (it->object == object) {
                    frame->erase(std::next(it).base());
                    return true;
                }
            }
        }
        return false;
    }

  private:
    static void destroy(const Delegation &delegation) noexcept {
        try {
            delegation.destructor(delegation.object);
        } catch (...) {
            LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1,
                   "runtime: a delegated object's destructor raised; ignored\n");
        }
    }

    std::vector<std::vector<Delegation>> frames_;
};

void release_frames(void *stack) {
    std::default_delete<FrameStack>()(static_cast<FrameStack *>(stack));
}

// The thread's stack, made at its first use and closed when the thread
// ends (run_at_thread_exit, which does not depend on the thread_local
// storage that holds the pointer still being there then).
FrameStack &frames() {
    constinit thread_local FrameStack *stack = nullptr;
    if (stack == nullptr) {
        auto fresh = std::make_unique<FrameStack>();
        if (!run_at_thread_exit(&release_frames, fresh.get()))
            throw std::bad_alloc();
        stack = fresh.release();
    }
    return *stack;
}

}  // namespace

Frame::Frame() : level_(frames().open()) {}

Frame::~Frame() {
    frames().close_to(level_);
}

}  // namespace korvo::rt

extern "C" {

int ex_delegate(void *object, void (*destructor)(void *object)) {
    if (object == nullptr || destructor == nullptr)
        return 0;
    try {
        korvo::rt::frames().delegate(object, destructor);
        return 1;
    } catch (const std::bad_alloc &) {
        destructor(object);
        return 0;
    }
}

int ex_undelegate(void *object, void *) {
    if (object == nullptr)
        return 0;
    return korvo::rt::frames().undelegate(object) ? 1 : 0;
}
}
