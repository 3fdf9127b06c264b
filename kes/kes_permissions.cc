// The owner's read and write permissions of a file.
#include "kes/host_security.hpp"
#include "kes/kes_acl.h"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;

extern "C" {

KesStatus *KesFileSetPermissions(KesStatus *status, int32_t rights, const char *path) {
    if (path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    // Execute rights have no permission bit of their own here: they are not
    // translated.
    const int error =
        korvo::host::SetOwnerReadWrite(host.c_str(), (rights & KES_FILE_PERMISSION_READ_ANY) != 0,
                                       (rights & KES_FILE_PERMISSION_WRITE_ANY) != 0);
    if (error != 0)
        return FillStatus(status, KES_SYSTEM_ERROR, error, 3);
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
