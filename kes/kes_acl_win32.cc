// Reading and replacing a file's access list on Windows: its discretionary
// ACL (acl_win32.hpp translates it).
#include <windows.h>

#include <new>
#include <utility>

#include "kes/acl_win32.hpp"
#include "kes/kes_acl.h"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::HostPath;
using korvo::kes::kSystemErrorBase;

namespace {

KesStatus *WindowsError(KesStatus *status, DWORD error, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + static_cast<int32_t>(error),
                      step);
}

}  // namespace

extern "C" {

KesStatus *KesFileGetAcl(KesStatus *status, KesAclEntry *entries, const char *path, size_t *count) {
    if (count == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    size_t room = std::exchange(*count, 0);
    if (path == nullptr || entries == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath host(path, HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    try {
        korvo::kes::win32::FileSecurity security;
        if (const DWORD error = korvo::kes::win32::ReadFileSecurity(
                host.c_str(), DACL_SECURITY_INFORMATION, &security);
            error != 0)
            return WindowsError(status, error, 3);
        korvo::kes::win32::CollectAclEntries(status, security.dacl, entries, &room);
        *count = room;
        return status;
    } catch (const std::bad_alloc &) {
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    }
}

KesStatus *KesFileSetAcl(KesStatus *status, const KesAclEntry *entries, const char *path,
                         size_t count) {
    if (path == nullptr || entries == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath host(path, HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    return korvo::kes::win32::StoreAclEntries(status, entries, count, host.c_str());
}
}
