// The opening and the end every depot operation shares: its "<op> entry"
// line, the check of its parameters, the take of the locks it works under,
// and its "<op> exit" line.
//
//     OperationGuard op(kOp);
//     if (!op.check(status, depot, entry))
//         return status;
//     LockHold &entryHold = op.lock(status, &depot->entryLock, Abandoned::kFail);
//     if (!entryHold)
//         return status;
//     ...
//     return op.exit(status);
//
// The guard owns the holds it took (at most two: the depot lock and then the
// entry lock) and lets them go, the last taken first, when it leaves its
// scope, unless the operation released them already. A failed check or take
// writes the operation's refusal line; the operation then returns without
// an exit line. One guard per call, on the calling thread.
#pragma once

#include <array>
#include <cstddef>

#include "depot/depot_lock.hpp"
#include "depot/depot_prelude.hpp"
#include "depot/depot_trace.hpp"
#include "kes/kes_sem.h"
#include "kes/kes_status.h"

namespace korvo::depot {

class OperationGuard {
  public:
    // Writes "<op> entry".
    explicit OperationGuard(const char *op) : op_(op) { TraceEntry(op); }
    OperationGuard(const OperationGuard &) = delete;
    OperationGuard &operator=(const OperationGuard &) = delete;
    ~OperationGuard() {
        for (std::size_t i = taken_; i-- > 0;)
            holds_[i].release();
    }

    // True when none of `parameters` is NULL; otherwise writes "<op> exit.
    // Invalid parameter", fills `status` (when given) with KES_INVALID and
    // is false.
    template <typename... Pointers>
    bool check(KesStatus *status, const Pointers *...parameters) {
        if ((... && (parameters != nullptr)))
            return true;
        if (status != nullptr)
            return Usable(status, op_, parameters...);
        LogInvalidParameter(op_);
        return false;
    }

    // Waits for `sem` as TakeLock does (on failure its line, and the wait's
    // status in `status`); `who` names the operation in the line of a
    // tolerated abandoned lock. The hold is empty when the take failed.
    LockHold &lock(KesStatus *status, KesSem *sem, Abandoned policy, const char *who = nullptr) {
        return keep(TakeLock(status, sem, op_, policy, who));
    }

    // Keeps a hold the operation took itself (with a line of its own on
    // failure).
    LockHold &keep(LockHold &&hold) {
        LockHold &slot = holds_[taken_ < holds_.size() ? taken_++ : holds_.size() - 1];
        slot = std::move(hold);
        return slot;
    }

    // Writes "<op> exit" and gives back what the operation returns.
    template <typename Result>
    Result exit(Result result) const {
        TraceExit(op_);
        return result;
    }
    void exit() const { TraceExit(op_); }

    const char *op() const { return op_; }

  private:
    const char *op_;
    std::array<LockHold, 2> holds_;
    std::size_t taken_ = 0;
};

}  // namespace korvo::depot
