// Trace lines and lock handling shared by the depot operations: the entry
// and exit lines, the standard lines of a lock wait and release, and an
// owner that releases a held lock at the end of a scope.
#pragma once

#include <cstdint>

#include "depot/depot_logger.h"
#include "kes/kes_sem.h"
#include "kes/kes_status.h"

namespace korvo::depot {

inline constexpr int32_t kFailureLevel = 0;
inline constexpr int32_t kSurvivedLevel = 1;
inline constexpr int32_t kNoticeLevel = 2;
inline constexpr int32_t kTraceLevel = 3;

inline void TraceEntry(const char *op) {
    Logger(kTraceLevel, "%s entry\n", op);
}
inline void TraceExit(const char *op) {
    Logger(kTraceLevel, "%s exit\n", op);
}

inline KesStatus *Fill(KesStatus *status, int32_t code, int32_t osError, int32_t step) {
    *status = KesStatus{code, osError, step};
    return status;
}

// Which wait results an operation goes on with: success only, or also a
// lock whose previous holder died without releasing it.
enum class Abandoned { kFail, kTolerate };

// Waits for `sem`. True when the caller holds the lock and goes on: code 0,
// or code -2 under kTolerate, which logs "<who> continue. Ignore
// WAIT_TIMEOUT" at level 1. Otherwise `wait` keeps the wait's status, the
// lock is let go again when the wait handed it over (-2), and the result is
// false; the caller logs its own failure line.
bool Acquire(KesStatus *wait, KesSem *sem, Abandoned policy, const char *who);

// "<op> exit.  Error <code>(<osError>) obtaining lock" at level 0.
void LogWaitFailure(const char *op, const KesStatus &wait);

// Acquire, logging the standard failure line as `op` and copying the wait's
// status into `status` on failure. `who` names the caller in the line of a
// tolerated abandoned lock; it is `op` when NULL.
bool TakeLock(KesStatus *status, KesSem *sem, const char *op, Abandoned policy,
              const char *who = nullptr);

// Releases `sem`; a failure is logged at level 1 as "<op> error <code>
// releasing <what>".
void ReleaseLock(KesSem *sem, const char *op, const char *what = "lock");

// A lock the caller holds, released (with ReleaseLock's line) by release()
// or at the end of the scope.
class LockHold {
  public:
    LockHold(KesSem *sem, const char *op, const char *what = "lock")
        : sem_(sem), op_(op), what_(what) {}
    ~LockHold() { release(); }
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;

    void release() {
        if (sem_ != nullptr)
            ReleaseLock(sem_, op_, what_);
        sem_ = nullptr;
    }

  private:
    KesSem *sem_;
    const char *op_;
    const char *what_;
};

}  // namespace korvo::depot
