// Waiting for, holding and releasing the depot's locks.
#include "depot/depot_lock.hpp"

#include <utility>

namespace korvo::depot {

LockHold::LockHold(KesStatus *wait, KesSem *sem, Abandoned policy, const char *who) {
    KesWaitSem(wait, sem);
    if (wait->code == KES_OK) {
        sem_ = sem;
        return;
    }
    if (wait->code != KES_WAIT_FAILED)
        return;
    if (policy == Abandoned::kTolerate) {
        Logger(LOG_LEVEL_SURVIVED, "%s continue. Ignore WAIT_TIMEOUT\n", who);
        sem_ = sem;
        return;
    }
    KesStatus ignored;
    KesPostSem(&ignored, sem);
}

LockHold LockHold::Adopt(KesSem *sem) {
    LockHold hold;
    if (sem != nullptr && *sem != nullptr)
        hold.sem_ = sem;
    return hold;
}

LockHold::LockHold(LockHold &&other) noexcept
    : sem_(std::exchange(other.sem_, nullptr)), op_(other.op_), what_(other.what_) {}

LockHold &LockHold::operator=(LockHold &&other) noexcept {
    if (this != &other) {
        release();
        sem_ = std::exchange(other.sem_, nullptr);
        op_ = other.op_;
        what_ = other.what_;
    }
    return *this;
}

void LockHold::release() {
    if (sem_ == nullptr)
        return;
    KesStatus released;
    KesPostSem(&released, std::exchange(sem_, nullptr));
    if (released.code != KES_OK && op_ != nullptr)
        Logger(LOG_LEVEL_SURVIVED, "%s error %d releasing %s\n", op_, released.code, what_);
}

void LogWaitFailure(const char *op, const KesStatus &wait) {
    Logger(LOG_LEVEL_FAILURE, "%s exit.  Error %d(%d) obtaining lock\n", op, wait.code,
           wait.osError);
}

LockHold TakeLock(KesStatus *status, KesSem *sem, const char *op, Abandoned policy,
                  const char *who) {
    KesStatus wait;
    LockHold hold(&wait, sem, policy, who != nullptr ? who : op);
    if (!hold) {
        LogWaitFailure(op, wait);
        *status = wait;
    }
    hold.reportAs(op);
    return hold;
}

}  // namespace korvo::depot
