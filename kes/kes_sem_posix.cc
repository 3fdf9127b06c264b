// Kes locks: a handle on the Kes heap that points at a recursive pthread
// mutex, either one of the machine-wide mutexes in shared memory or a private
// mutex inside the handle itself.
//
// Private mutexes are not robust: a robust mutex that a thread holds is linked
// into that thread's robust list by address, and releasing the handle of a
// held one would leave the list pointing into freed memory.
#include "kes/kes_sem.h"

#include <pthread.h>

#include <cerrno>
#include <memory>

#include "kes/kes_memory.h"
#include "kes/kes_mutex.hpp"
#include "kes/kes_status.hpp"

struct KesSemCell {
    pthread_mutex_t *mutex;  // the lock: in shared memory, or `own`
    pthread_mutex_t own;     // a private lock's mutex
    int shared;              // nonzero for a named lock
};

namespace {

using korvo::kes::FillStatus;

using korvo::kes::MutexScope;

struct CellRelease {
    void operator()(KesSemCell *cell) const { KesMemoryFree(cell); }
};
using CellOwner = std::unique_ptr<KesSemCell, CellRelease>;

bool usable(const KesSem *sem) {
    return sem != nullptr && *sem != nullptr;
}

}  // namespace

extern "C" {

KesStatus *KesInitSem(KesStatus *status, KesSem *sem, const char *name) {
    if (sem == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    *sem = nullptr;

    errno = 0;
    CellOwner cell(static_cast<KesSemCell *>(KesMemoryCalloc(1, sizeof(KesSemCell))));
    if (!cell)
        return FillStatus(status, KES_NO_MEMORY, errno, 0);

    int rc = 0;
    if (name == nullptr || *name == '\0') {
        rc = korvo::kes::initRecursiveMutex(&cell->own, MutexScope::Private);
        cell->mutex = &cell->own;
    } else {
        rc = korvo::kes::openNamedMutex(korvo::kes::sharedObjectName(name), &cell->mutex);
        cell->shared = 1;
    }
    if (rc != 0)
        return FillStatus(status, KES_SYSTEM_ERROR, rc, 0);

    *sem = cell.release();
    return KesWaitSem(status, sem);
}

KesStatus *KesWaitSem(KesStatus *status, KesSem *sem) {
    if (!usable(sem))
        return FillStatus(status, KES_INVALID, 0, 1);
    pthread_mutex_t *mutex = (*sem)->mutex;
    const int rc = pthread_mutex_lock(mutex);
    if (rc == 0)
        return FillStatus(status, KES_OK, 0, 0);
    if (rc == EOWNERDEAD) {
        // The holder died: the lock is ours now and usable again.
        pthread_mutex_consistent(mutex);
        return FillStatus(status, KES_WAIT_FAILED, 0, 3);
    }
    return FillStatus(status, KES_SYSTEM_ERROR, rc, 2);
}

KesStatus *KesPostSem(KesStatus *status, KesSem *sem) {
    if (!usable(sem))
        return FillStatus(status, KES_INVALID, 0, 1);
    const int rc = pthread_mutex_unlock((*sem)->mutex);
    if (rc != 0)
        return FillStatus(status, KES_SYSTEM_ERROR, rc, 0);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDestSem(KesStatus *status, KesSem *sem) {
    if (!usable(sem))
        return FillStatus(status, KES_INVALID, 0, 1);
    CellOwner cell(*sem);
    FillStatus(status, KES_OK, 0, 0);
    if (!cell->shared) {
        // Closing the last handle of a held lock lets it go; the holder may
        // have taken it several times.
        while (pthread_mutex_unlock(&cell->own) == 0) {
        }
        // A robust lock can be destroyed while held, so ask first: a lock
        // that another living thread holds stays valid for that thread,
        // which releases and closes it; one whose holder ended is free.
        int rc = pthread_mutex_trylock(&cell->own);
        if (rc == EOWNERDEAD)
            rc = pthread_mutex_consistent(&cell->own);
        if (rc == 0)
            pthread_mutex_unlock(&cell->own);
        if (rc == 0)
            rc = pthread_mutex_destroy(&cell->own);
        if (rc != 0) {
            static_cast<void>(cell.release());
            return FillStatus(status, KES_SYSTEM_ERROR, rc, 0);
        }
    }
    return status;
}

KesStatus *KesCloseSem(KesStatus *status, KesSem *sem) {
    return KesDestSem(status, sem);
}
}
