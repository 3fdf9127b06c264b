// Holding the depot's machine-wide locks. Every take of "DEPOT", "ENUM" or
// "ENTRY" is held by one LockHold, which lets the lock go (once) when it is
// released or leaves its scope; the lock rules themselves are written beside
// the Depot structure (depot_store.h).
#pragma once

#include "depot/depot_trace.hpp"
#include "kes/kes_sem.h"
#include "kes/kes_status.h"

namespace korvo::depot {

// Which wait results an operation goes on with: success only, or also a
// lock whose previous holder died without releasing it.
enum class Abandoned { kFail, kTolerate };

class LockHold {
  public:
    // Holds nothing.
    LockHold() = default;
    // Waits for `sem`. The hold holds the lock when the wait gave code 0, or
    // -2 under kTolerate, which logs "<who> continue. Ignore WAIT_TIMEOUT" at
    // level 1. Otherwise it holds nothing, `wait` keeps the wait's status,
    // and a lock that an abandoned wait handed over is let go again at once:
    // an operation that gives up must not keep it.
    LockHold(KesStatus *wait, KesSem *sem, Abandoned policy, const char *who);
    // Takes over the hold of a lock the caller holds already (KesInitSem
    // leaves the lock it makes held). A NULL lock holds nothing.
    static LockHold Adopt(KesSem *sem);

    LockHold(LockHold &&other) noexcept;
    LockHold &operator=(LockHold &&other) noexcept;
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;
    ~LockHold() { release(); }

    explicit operator bool() const { return sem_ != nullptr; }

    // A failed release is logged at level 1 as "<op> error <code> releasing
    // <what>"; with no `op` it goes unreported.
    LockHold &reportAs(const char *op, const char *what = "lock") {
        op_ = op;
        what_ = what;
        return *this;
    }
    // Lets the lock go now (nothing when nothing is held).
    void release();

  private:
    KesSem *sem_ = nullptr;
    const char *op_ = nullptr;
    const char *what_ = "lock";
};

// "<op> exit.  Error <code>(<osError>) obtaining lock" at level 0.
void LogWaitFailure(const char *op, const KesStatus &wait);

// The standard take of an operation `op`: on failure, logs LogWaitFailure's
// line and copies the wait's status into `status`. `who` names the caller in
// the line of a tolerated abandoned lock (`op` when NULL). The hold reports
// a failed release as `op`.
LockHold TakeLock(KesStatus *status, KesSem *sem, const char *op, Abandoned policy,
                  const char *who = nullptr);

}  // namespace korvo::depot
