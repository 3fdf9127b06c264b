// The host status record on a Windows host: the C runtime's 64-bit record
// (struct stat is _stat64 with 64-bit offsets), filled through the wide call
// with the path in the form Win32 takes (separators, trailing separators,
// long paths). Its times are whole seconds already.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "kes/host_handle_win32.hpp"
#include "kes/host_stat_record.hpp"

namespace korvo::host {

static_assert(sizeof(((struct stat *)nullptr)->st_mtime) == 8, "times are 64 bits wide");

bool StatRecord(const char *path, struct stat *record) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    return ::_wstat64(wide.c_str(), record) == 0;
}

bool RecordIsDirectory(const struct stat &record) noexcept {
    return (record.st_mode & _S_IFMT) == _S_IFDIR;
}

void CutModifiedToSeconds(struct stat *) noexcept {}

}  // namespace korvo::host
