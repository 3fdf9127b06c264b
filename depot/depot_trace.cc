// Waiting for and releasing the depot's locks with their trace lines.
#include "depot/depot_trace.hpp"

namespace korvo::depot {

bool Acquire(KesStatus *wait, KesSem *sem, Abandoned policy, const char *who) {
    KesWaitSem(wait, sem);
    if (wait->code == KES_OK)
        return true;
    if (wait->code == KES_WAIT_FAILED) {
        if (policy == Abandoned::kTolerate) {
            Logger(kSurvivedLevel, "%s continue. Ignore WAIT_TIMEOUT\n", who);
            return true;
        }
        // The wait handed the lock over all the same; an operation that
        // gives up must not keep it.
        KesStatus ignored;
        KesPostSem(&ignored, sem);
    }
    return false;
}

void LogWaitFailure(const char *op, const KesStatus &wait) {
    Logger(kFailureLevel, "%s exit.  Error %d(%d) obtaining lock\n", op, wait.code, wait.osError);
}

bool TakeLock(KesStatus *status, KesSem *sem, const char *op, Abandoned policy, const char *who) {
    KesStatus wait;
    if (Acquire(&wait, sem, policy, who != nullptr ? who : op))
        return true;
    LogWaitFailure(op, wait);
    *status = wait;
    return false;
}

void ReleaseLock(KesSem *sem, const char *op, const char *what) {
    KesStatus released;
    KesPostSem(&released, sem);
    if (released.code != KES_OK)
        Logger(kSurvivedLevel, "%s error %d releasing %s\n", op, released.code, what);
}

}  // namespace korvo::depot
