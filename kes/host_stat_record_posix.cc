// The host status record on a POSIX host: stat(2) and st_mtim.
#include "kes/host_stat_record.hpp"

namespace korvo::host {

bool StatRecord(const char *path, struct stat *record) noexcept {
    return ::stat(path, record) == 0;
}

bool RecordIsDirectory(const struct stat &record) noexcept {
    return S_ISDIR(record.st_mode);
}

void CutModifiedToSeconds(struct stat *record) noexcept {
    record->st_mtim.tv_nsec = 0;
}

}  // namespace korvo::host
