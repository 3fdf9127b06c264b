// The host status record on a Windows host: the C runtime's 64-bit record
// (struct stat is _stat64 with 64-bit offsets), filled through the wide call
// with the path in the form Win32 takes (separators, trailing separators,
// long paths). Its times are whole seconds already.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "kes/host_file.hpp"
#include "kes/host_handle_win32.hpp"
#include "kes/host_stat_record.hpp"

namespace korvo::host {

static_assert(sizeof(((struct stat *)nullptr)->st_mtime) == 8, "times are 64 bits wide");

bool StatRecord(const char *path, struct stat *record) noexcept {
    const std::wstring wide = WidePath(path);
    if (wide.empty())
        return false;
    if (::_wstat64(wide.c_str(), record) != 0)
        return false;
    // The C runtime turns the file's time into seconds through local time
    // and gives nonsense before 1970; the file's own time, as StatPath
    // reads it, is what file_get_mtime answers too.
    FileInfo info;
    if (StatPath(path, &info))
        record->st_mtime = info.modified_seconds;
    return true;
}

bool RecordIsDirectory(const struct stat &record) noexcept {
    return (record.st_mode & _S_IFMT) == _S_IFDIR;
}

void CutModifiedToSeconds(struct stat *) noexcept {}

}  // namespace korvo::host
