// Kes locks on a Windows host: a handle on the Kes heap that holds a Windows
// mutex. A named lock is the machine-wide mutex "Global\korvo.<name>" (or
// "Global\korvo.<namespace>.<name>" under KORVO_LOCK_NAMESPACE), which
// CreateMutexA creates or opens in one step; a lock without a name is a
// mutex without one, private to the process. Windows mutexes are recursive
// and belong to the thread that took them; a holder that ends without
// releasing leaves the mutex abandoned, and the next waiter gets it with
// WAIT_ABANDONED. A named mutex lives while some process holds a handle on
// it: when the last one closes it, the lock is gone.
#include <windows.h>

#include <cerrno>
#include <memory>
#include <string>

#include "kes/host_env.hpp"
#include "kes/host_handle_win32.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_sem.h"
#include "kes/kes_status.hpp"

struct KesSemCell {
    HANDLE mutex;
};

namespace {

using korvo::kes::FillStatus;

struct CellRelease {
    void operator()(KesSemCell *cell) const { KesMemoryFree(cell); }
};
using CellOwner = std::unique_ptr<KesSemCell, CellRelease>;

bool usable(const KesSem *sem) {
    return sem != nullptr && *sem != nullptr;
}

// The error of the failed call, as a status's osError: the Windows error
// itself.
int32_t lastError() {
    return static_cast<int32_t>(::GetLastError());
}

std::string mutexName(const char *lockName) {
    std::string name = "Global\\korvo.";
    const auto space = korvo::host::GetEnvironment("KORVO_LOCK_NAMESPACE");
    if (space.has_value() && !space->empty()) {
        name += *space;
        name += '.';
    }
    name += lockName;
    return name;
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

    try {
        const bool named = name != nullptr && *name != '\0';
        // Lock names are UTF-8, as every name of the library.
        std::wstring full;
        if (named && !korvo::host::WideOfUtf8(mutexName(name).c_str(), &full))
            return FillStatus(status, KES_SYSTEM_ERROR, ERROR_NO_UNICODE_TRANSLATION, 0);
        // Kernel object names are bounded as paths are, so that a name is
        // usable on every Windows the library runs on.
        if (full.size() >= MAX_PATH)
            return FillStatus(status, KES_SYSTEM_ERROR, ERROR_FILENAME_EXCED_RANGE, 0);
        cell->mutex = ::CreateMutexW(nullptr, FALSE, named ? full.c_str() : nullptr);
    } catch (const std::bad_alloc &) {
        return FillStatus(status, KES_NO_MEMORY, ENOMEM, 0);
    }
    if (cell->mutex == nullptr)
        return FillStatus(status, KES_SYSTEM_ERROR, lastError(), 0);

    *sem = cell.release();
    return KesWaitSem(status, sem);
}

KesStatus *KesWaitSem(KesStatus *status, KesSem *sem) {
    if (!usable(sem))
        return FillStatus(status, KES_INVALID, 0, 1);
    switch (::WaitForSingleObject((*sem)->mutex, INFINITE)) {
        case WAIT_OBJECT_0:
            return FillStatus(status, KES_OK, 0, 0);
        case WAIT_ABANDONED:
            // The holder ended without releasing: the lock is ours now and
            // usable again.
            return FillStatus(status, KES_WAIT_FAILED, 0, 3);
        case WAIT_TIMEOUT:
            return FillStatus(status, KES_WAIT_FAILED, 0, 2);
        default:
            return FillStatus(status, KES_SYSTEM_ERROR, lastError(), 2);
    }
}

KesStatus *KesPostSem(KesStatus *status, KesSem *sem) {
    if (!usable(sem))
        return FillStatus(status, KES_INVALID, 0, 1);
    if (!::ReleaseMutex((*sem)->mutex))
        return FillStatus(status, KES_SYSTEM_ERROR, lastError(), 0);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesDestSem(KesStatus *status, KesSem *sem) {
    if (!usable(sem))
        return FillStatus(status, KES_INVALID, 0, 1);
    // The cell goes whatever the close says. A holder that closes its
    // handle still holds the mutex until it releases it or ends.
    const CellOwner cell(*sem);
    if (!::CloseHandle(cell->mutex))
        return FillStatus(status, KES_SYSTEM_ERROR, lastError(), 0);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesCloseSem(KesStatus *status, KesSem *sem) {
    return KesDestSem(status, sem);
}
}
