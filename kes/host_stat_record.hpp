// The host's own status record (kes/kes_host_stat.h), for the public call
// that hands it to callers: filling it by path, and cutting its modification
// time to whole seconds. Threads: any thread.
#pragma once

#include "kes/kes_host_stat.h"

namespace korvo::host {

// Fills `record` for `path`, following links; false with errno on failure.
bool StatRecord(const char *path, struct stat *record) noexcept;
// True when `record` is that of a directory.
bool RecordIsDirectory(const struct stat &record) noexcept;
// Drops the fraction of a second from the record's modification time.
void CutModifiedToSeconds(struct stat *record) noexcept;

}  // namespace korvo::host
