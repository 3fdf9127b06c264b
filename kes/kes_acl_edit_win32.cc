// Granting and revoking one account's rights on Windows: the file's list is
// read once, the account's entry changed (or appended), and the whole list
// written back.
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "kes/acl_win32.hpp"
#include "kes/kes_acl.h"
#include "kes/kes_acl_entries.hpp"
#include "kes/kes_block.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_memory.h"
#include "kes/kes_status.hpp"

using korvo::kes::AclChange;
using korvo::kes::FillStatus;
using korvo::kes::kSystemErrorBase;

namespace {

KesStatus *ChangePermission(KesStatus *status, AclChange change, const char *account,
                            int32_t rights, const char *path) {
    if (account == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    korvo::kes::win32::FileSecurity security;
    try {
        if (const DWORD error = korvo::kes::win32::ReadFileSecurity(
                host.c_str(), DACL_SECURITY_INFORMATION, &security);
            error != 0)
            return FillStatus(status, KES_SYSTEM_ERROR,
                              kSystemErrorBase + static_cast<int32_t>(error), 3);
    } catch (const std::bad_alloc &) {
        return FillStatus(status, KES_NO_MEMORY, 0, 4);
    }
    size_t count = korvo::kes::win32::AclEntryCount(security.dacl);
    const std::unique_ptr<KesAclEntry[], korvo::kes::KesBlockFree> list(
        static_cast<KesAclEntry *>(KesMemoryCalloc(count + 1, sizeof(KesAclEntry))));
    if (!list)
        return FillStatus(status, KES_NO_MEMORY, 0, 4);
    // A list read only in part is not written back: the entries missing from
    // it would be lost.
    if (korvo::kes::win32::CollectAclEntries(status, security.dacl, list.get(), &count)->code !=
        KES_OK) {
        status->step = 5;
        return status;
    }
    // No account has a name that does not fit an entry.
    if (std::strlen(account) >= sizeof(list[0].name))
        return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + ERROR_NONE_MAPPED, 6);
    const int32_t wanted = korvo::kes::CanonicalRights(rights) & ~KES_FILE_PERMISSION_DENY;
    if (KesAclEntry *entry = korvo::kes::FindAclEntry(list.get(), count, account);
        entry != list.get() + count) {
        korvo::kes::ChangeAclEntry(change, entry, wanted);
    } else if (wanted != 0) {
        // Revoking from an account without an entry denies it the rights.
        KesAclEntry &added = list[count++];
        std::memcpy(added.name, account, std::strlen(account) + 1);
        added.rights = change == AclChange::kGrant ? wanted : wanted | KES_FILE_PERMISSION_DENY;
    }
    if (korvo::kes::win32::StoreAclEntries(status, list.get(), count, host.c_str())->code != KES_OK)
        status->step = 6;
    return status;
}

}  // namespace

extern "C" {

KesStatus *KesFileGrantPermission(KesStatus *status, const char *account, int32_t rights,
                                  const char *path) {
    return ChangePermission(status, AclChange::kGrant, account, rights, path);
}

KesStatus *KesFileRevokePermission(KesStatus *status, const char *account, int32_t rights,
                                   const char *path) {
    return ChangePermission(status, AclChange::kRevoke, account, rights, path);
}
}
