// Granting and revoking one account's rights: the file's access list is read,
// the account's entry changed (or appended), and the list written back. Both
// work from one reading of the file's ACL, so the entries the list does not
// express are written back as they were read.
#include <cerrno>
#include <cstring>
#include <memory>

#include "kes/kes_acl.h"
#include "kes/kes_acl_entries.hpp"
#include "kes/kes_block.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_path_rules.hpp"
#include "kes/kes_posix_acl.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;

namespace {

using korvo::kes::AclChange;

// Appends an entry for `account`, which has none, to the `*count` entries of
// `list` (which has room for one more); a revoke may change the owner's
// entry of `acl` instead. A grant appends the rights given. A revoke keeps
// the rights the account holds through the owner, group and other entries,
// less those revoked: it appends an allowing entry with what is left (a
// denying entry when nothing is), or for the file's owner, whom no named
// entry concerns, takes the rights from the owner's entry. 0 or an errno.
int AddEntry(AclChange change, acl_t acl, const char *path, KesAclEntry *list, size_t *count,
             const char *account, int32_t rights) {
    KesAclEntry &entry = list[*count];
    if (change == AclChange::kGrant) {
        korvo::kes::CopyCut(entry.name, sizeof(entry.name), account);
        entry.rights = rights;
        ++*count;
        return 0;
    }
    int32_t held = 0;
    bool owner = false;
    if (const int error = korvo::kes::RightsWithoutEntry(acl, path, account, &held, &owner);
        error != 0)
        return error;
    const int32_t left = held & ~rights;
    if (owner)
        return korvo::kes::SetOwnerRights(acl, left);
    korvo::kes::CopyCut(entry.name, sizeof(entry.name), account);
    entry.rights = left != 0 ? left : KES_FILE_PERMISSION_DENY;
    ++*count;
    return 0;
}

KesStatus *ChangePermission(KesStatus *status, AclChange change, const char *account,
                            int32_t rights, const char *path) {
    if (account == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    const korvo::kes::AclHandle acl = korvo::kes::ReadAccessAcl(host.c_str());
    if (!acl)
        return korvo::kes::StandInError(status, 3);
    size_t count = korvo::kes::CountAclEntries(acl.get());
    const std::unique_ptr<KesAclEntry[], korvo::kes::KesBlockFree> list(
        static_cast<KesAclEntry *>(KesMemoryCalloc(count + 1, sizeof(KesAclEntry))));
    if (!list)
        return FillStatus(status, KES_NO_MEMORY, 0, 4);
    // A list read only in part is not written back: the entries missing from
    // it would be lost.
    if (korvo::kes::CollectAccountEntries(status, acl.get(), list.get(), &count)->code != KES_OK) {
        status->step = 5;
        return status;
    }
    // No account has a name that does not fit an entry.
    if (std::strlen(account) >= sizeof(list[0].name))
        return FillStatus(status, KES_SYSTEM_ERROR, korvo::kes::kSystemErrorBase + ENOENT, 6);
    const int32_t wanted = korvo::kes::CanonicalRights(rights) & ~KES_FILE_PERMISSION_DENY;
    if (KesAclEntry *entry = korvo::kes::FindAclEntry(list.get(), count, account);
        entry != list.get() + count) {
        korvo::kes::ChangeAclEntry(change, entry, wanted);
    } else if (const int error =
                   AddEntry(change, acl.get(), host.c_str(), list.get(), &count, account, wanted);
               error != 0) {
        return FillStatus(status, KES_SYSTEM_ERROR, korvo::kes::kSystemErrorBase + error, 6);
    }
    if (korvo::kes::StoreAccountEntries(status, acl.get(), list.get(), count, host.c_str())->code !=
        KES_OK)
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
