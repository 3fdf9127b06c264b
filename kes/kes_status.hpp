// Filling a KesStatus: the one place every Kes operation (and the depot)
// writes a status record. Header-only; any thread.
#pragma once

#include <cerrno>
#include <cstdint>

#include "kes/kes_status.h"

namespace korvo::kes {

// Statuses of calls that replace host file and directory calls carry
// errno + 200; those of C library calls carry errno itself.
inline constexpr int32_t kSystemErrorBase = 200;

// Stores {code, osError, step} in *status and returns status.
inline KesStatus *FillStatus(KesStatus *status, int32_t code, int32_t osError = 0,
                             int32_t step = 0) {
    *status = KesStatus{code, osError, step};
    return status;
}

// A failed C library call at `step`: code -4 with errno.
inline KesStatus *SystemError(KesStatus *status, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, errno, step);
}

// A failed host call that replaces a file or directory call, at `step`:
// code -4 with errno + 200.
inline KesStatus *StandInError(KesStatus *status, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + errno, step);
}

}  // namespace korvo::kes
