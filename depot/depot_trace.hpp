// Trace lines shared by the depot operations: the entry and exit lines (at
// the runtime log's levels, LOG_LEVEL_*), and the filling of a status.
#pragma once

#include <cstdint>

#include "depot/depot_logger.h"
#include "kes/kes_status.h"
#include "kes/kes_status.hpp"
#include "runtime/log.h"

namespace korvo::depot {

// The entry and exit lines go to the runtime log directly: they carry only
// an operation's name, so they are the lines Logger would hand over, and
// the log formats them only when it keeps them (most operations write
// twenty of them, which the default level drops).
inline void TraceEntry(const char *op) {
    LogMsg(LOG_LEVEL_TRACE, 0, 0, -1, "%s entry\n", op);
}
inline void TraceExit(const char *op) {
    LogMsg(LOG_LEVEL_TRACE, 0, 0, -1, "%s exit\n", op);
}

// Statuses are filled by the Kes layer's one helper.
using korvo::kes::FillStatus;

}  // namespace korvo::depot
