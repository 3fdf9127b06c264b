// Trace lines shared by the depot operations: the levels, the entry and
// exit lines, and the filling of a status.
#pragma once

#include <cstdint>

#include "depot/depot_logger.h"
#include "kes/kes_status.h"
#include "runtime/log.h"

namespace korvo::depot {

inline constexpr int32_t kFailureLevel = 0;
inline constexpr int32_t kSurvivedLevel = 1;
inline constexpr int32_t kNoticeLevel = 2;
inline constexpr int32_t kTraceLevel = 3;

// The entry and exit lines go to the runtime log directly: they carry only
// an operation's name, so they are the lines Logger would hand over, and
// the log formats them only when it keeps them (most operations write
// twenty of them, which the default level drops).
inline void TraceEntry(const char *op) {
    LogMsg(kTraceLevel, 0, 0, -1, "%s entry\n", op);
}
inline void TraceExit(const char *op) {
    LogMsg(kTraceLevel, 0, 0, -1, "%s exit\n", op);
}

inline KesStatus *Fill(KesStatus *status, int32_t code, int32_t osError, int32_t step) {
    *status = KesStatus{code, osError, step};
    return status;
}

}  // namespace korvo::depot
