// Kes file operations on a path: remove, rename, describe a file and name its
// owner.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "kes/host_file.hpp"
#include "kes/host_security.hpp"
#include "kes/host_stat_record.hpp"
#include "kes/kes_file.h"
#include "kes/kes_host_path.hpp"
#include "kes/kes_path_rules.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::HostPath;
using korvo::kes::SystemError;

namespace {

HostPath FilePath(const char *path) {
    return HostPath(path, HostPath::Foreign::kRefuse);
}

// Whole seconds as milliseconds: the record keeps no fraction.
int64_t Milliseconds(time_t seconds) {
    return static_cast<int64_t>(seconds) * 1000;
}

}  // namespace

extern "C" {

KesStatus *KesFileRemove(KesStatus *status, const char *path) {
    if (path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath host = FilePath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 0);
    if (!korvo::host::RemoveFile(host.c_str()))
        return SystemError(status, 2);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileRename(KesStatus *status, const char *from, const char *to) {
    if (from == nullptr || to == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath hostFrom = FilePath(from);
    const HostPath hostTo = FilePath(to);
    if (!hostFrom.usable() || !hostTo.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    if (!korvo::host::RenameReplacing(hostFrom.c_str(), hostTo.c_str()))
        return SystemError(status, 2);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileGetInfo(KesStatus *status, const char *path, KesFileInfo *info) {
    if (path == nullptr || info == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    std::memset(info, 0, sizeof(*info));
    const HostPath host = FilePath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    struct stat st;
    if (!korvo::host::StatRecord(host.c_str(), &st))
        return SystemError(status, 3);
    info->changeTime = Milliseconds(st.st_ctime);
    info->accessTime = Milliseconds(st.st_atime);
    info->modificationTime = Milliseconds(st.st_mtime);
    if ((st.st_mode & S_IRUSR) != 0)
        info->permissions |= KES_FILE_PERMISSION_READ;
    if ((st.st_mode & S_IWUSR) != 0)
        info->permissions |= KES_FILE_PERMISSION_WRITE;
    info->links = static_cast<int32_t>(st.st_nlink);
    info->size = st.st_size;
    info->device = static_cast<int32_t>(st.st_dev);
    info->rawDevice = static_cast<int32_t>(st.st_rdev);
    // An owner without an account name leaves the field empty; the record
    // is still good.
    korvo::host::OwnerFailure failure;
    korvo::host::FileOwnerName(host.c_str(), info->owner, sizeof(info->owner), &failure);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileGetOwner(KesStatus *status, char *name, const char *path, size_t size) {
    if (path == nullptr || name == nullptr || size == 0)
        return FillStatus(status, KES_INVALID, 0, 1);
    name[0] = '\0';
    const HostPath host = FilePath(path);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    korvo::host::OwnerFailure failure;
    if (const int error = korvo::host::FileOwnerName(host.c_str(), name, size, &failure);
        error != 0)
        return FillStatus(status, KES_SYSTEM_ERROR, korvo::kes::kSystemErrorBase + error,
                          failure == korvo::host::OwnerFailure::kFile ? 4 : 3);
    return FillStatus(status, KES_OK, 0, 0);
}
}
