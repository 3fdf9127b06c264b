// The owner's read and write permissions of a file, through its mode bits.
#include <sys/stat.h>

#include "kes/kes_acl.h"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::SystemError;

extern "C" {

KesStatus *KesFileSetPermissions(KesStatus *status, int32_t rights, const char *path) {
    if (path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    // Only the owner's read and write bits change: the others carry the
    // owner's execute right, the group's (or, with an ACL, the mask's) and
    // others' rights, which the rights word does not speak of.
    struct stat st;
    if (::stat(host.c_str(), &st) != 0)
        return SystemError(status, 3);
    mode_t mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_IRUSR | S_IWUSR);
    if ((rights & KES_FILE_PERMISSION_READ_ANY) != 0)
        mode |= S_IRUSR;
    if ((rights & KES_FILE_PERMISSION_WRITE_ANY) != 0)
        mode |= S_IWUSR;
    if (::chmod(host.c_str(), mode) != 0)
        return SystemError(status, 3);
    return FillStatus(status, KES_OK, 0, 0);
}

KesStatus *KesFileGetPermissions(KesStatus *status, int32_t *rights, const char *path) {
    if (path == nullptr || rights == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    KesFileInfo info;
    if (KesFileGetInfo(status, path, &info)->code == KES_OK)
        *rights = info.permissions;
    return status;
}
}
