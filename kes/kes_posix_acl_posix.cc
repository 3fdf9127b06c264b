// Translation between the Kes account entries and the named-user entries of
// a POSIX access ACL, through libacl.
#include "kes/kes_posix_acl.hpp"

#include <acl/libacl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>

#include "kes/kes_account.hpp"
#include "kes/kes_status.hpp"

namespace korvo::kes {
namespace {

constexpr int32_t kAllRights =
    KES_FILE_PERMISSION_READ | KES_FILE_PERMISSION_WRITE | KES_FILE_PERMISSION_EXECUTE;

struct RightBit {
    acl_perm_t permission;
    int32_t right;
};
constexpr RightBit kRightBits[] = {{ACL_READ, KES_FILE_PERMISSION_READ},
                                   {ACL_WRITE, KES_FILE_PERMISSION_WRITE},
                                   {ACL_EXECUTE, KES_FILE_PERMISSION_EXECUTE}};

}  // namespace

// The rights an entry's permissions hold; -1 (errno set) when they cannot be
// read.
int32_t RightsOf(acl_entry_t entry) {
    acl_permset_t permissions;
    if (acl_get_permset(entry, &permissions) != 0)
        return -1;
    int32_t rights = 0;
    for (const RightBit &bit : kRightBits) {
        const int held = acl_get_perm(permissions, bit.permission);
        if (held < 0)
            return -1;
        if (held == 1)
            rights |= bit.right;
    }
    return rights;
}

// Gives an entry exactly the permissions of `rights`; false (errno set) on
// failure.
bool SetRights(acl_entry_t entry, int32_t rights) {
    acl_permset_t permissions;
    if (acl_get_permset(entry, &permissions) != 0 || acl_clear_perms(permissions) != 0)
        return false;
    for (const RightBit &bit : kRightBits) {
        if ((rights & bit.right) != 0 && acl_add_perm(permissions, bit.permission) != 0)
            return false;
    }
    return acl_set_permset(entry, permissions) == 0;
}

// The rights of the mask, which bounds every group-class entry (named users
// and groups, the owning group); all rights when the ACL has none. -1 (errno
// set) on failure.
int32_t MaskRights(acl_t acl) {
    int32_t mask = kAllRights;
    const bool walked = ForEachEntry(acl, [&mask](acl_entry_t entry, acl_tag_t tag) {
        if (tag != ACL_MASK)
            return true;
        mask = RightsOf(entry);
        return false;
    });
    return walked ? mask : -1;
}

namespace {

// Runs a libacl call that takes the ACL by address, and may move it, on an
// owned ACL.
template <typename Call>
int OnAcl(AclHandle &acl, Call call) {
    acl_t moved = acl.get();
    const int rc = call(&moved);
    if (moved != acl.get()) {
        static_cast<void>(acl.release());  // libacl released the old one
        acl.reset(moved);
    }
    return rc;
}

int AddEntry(AclHandle &acl, acl_entry_t *entry) {
    return OnAcl(acl, [entry](acl_t *address) { return acl_create_entry(address, entry); });
}

// Copies into `fresh` the entries of `current` that account entries do not
// express: the owner, the groups and others. The group-class entries keep
// what they held within the old mask. Sets *namedGroups when a named group
// was copied. 0 or an errno.
int CopyKeptEntries(acl_t current, AclHandle &fresh, bool *namedGroups) {
    const int32_t mask = MaskRights(current);
    if (mask < 0)
        return errno;
    int error = 0;
    const bool walked = ForEachEntry(current, [&](acl_entry_t entry, acl_tag_t tag) {
        if (tag == ACL_USER || tag == ACL_MASK)
            return true;
        acl_entry_t copy;
        if (AddEntry(fresh, &copy) != 0 || acl_copy_entry(copy, entry) != 0) {
            error = errno;
            return false;
        }
        if (tag == ACL_GROUP_OBJ || tag == ACL_GROUP) {
            const int32_t rights = RightsOf(copy);
            if (rights < 0 || !SetRights(copy, rights & mask)) {
                error = errno;
                return false;
            }
            *namedGroups = *namedGroups || tag == ACL_GROUP;
        }
        return true;
    });
    return walked ? error : errno;
}

// Adds a named-user entry to `fresh` for each account entry that allows or
// denies something; an allowing entry without rights grants nothing and is
// left out. Sets *namedUsers when an entry was added. 0 or an errno.
int AddAccountEntries(const KesAclEntry *entries, size_t count, AclHandle &fresh,
                      bool *namedUsers) {
    for (size_t i = 0; i < count; ++i) {
        const KesAclEntry &wanted = entries[i];
        if (std::memchr(wanted.name, '\0', sizeof(wanted.name)) == nullptr)
            return EINVAL;
        uid_t uid;
        if (const int error = AccountId(wanted.name, &uid); error != 0)
            return error;
        const int32_t rights = CanonicalRights(wanted.rights);
        const bool denies = (rights & KES_FILE_PERMISSION_DENY) != 0;
        if (!denies && rights == 0)
            continue;
        acl_entry_t entry;
        if (AddEntry(fresh, &entry) != 0 || acl_set_tag_type(entry, ACL_USER) != 0 ||
            acl_set_qualifier(entry, &uid) != 0 || !SetRights(entry, denies ? 0 : rights))
            return errno;
        *namedUsers = true;
    }
    return 0;
}

// The ACL to store: `current` with its named users replaced. 0 or an errno.
int BuildAcl(acl_t current, const KesAclEntry *entries, size_t count, AclHandle &fresh) {
    fresh.reset(acl_init(static_cast<int>(CountAclEntries(current))));
    if (!fresh)
        return errno;
    bool namedGroups = false;
    bool namedUsers = false;
    if (const int error = CopyKeptEntries(current, fresh, &namedGroups); error != 0)
        return error;
    if (const int error = AddAccountEntries(entries, count, fresh, &namedUsers); error != 0)
        return error;
    // Named entries need a mask; without them the ACL is the plain mode bits.
    if ((namedGroups || namedUsers) &&
        OnAcl(fresh, [](acl_t *address) { return acl_calc_mask(address); }) != 0)
        return errno;
    return acl_valid(fresh.get()) == 0 ? 0 : errno;
}

}  // namespace

AclHandle ReadAccessAcl(const char *path) {
    AclHandle acl(acl_get_file(path, ACL_TYPE_ACCESS));
    if (acl || errno != EOPNOTSUPP)
        return acl;
    // A file system without ACLs: the file's access is its mode bits alone,
    // which make an ACL without named entries.
    struct stat st;
    if (::stat(path, &st) != 0)
        return acl;
    return AclHandle(acl_from_mode(st.st_mode));
}

size_t CountAclEntries(acl_t acl) {
    const int entries = acl_entries(acl);
    return entries > 0 ? static_cast<size_t>(entries) : 0;
}

KesStatus *CollectAccountEntries(KesStatus *status, acl_t acl, KesAclEntry *entries,
                                 size_t *count) {
    const size_t room = *count;
    *count = 0;
    FillStatus(status, KES_OK, 0, 0);
    const int32_t mask = MaskRights(acl);
    if (mask < 0)
        return StandInError(status, 4);
    const bool walked = ForEachEntry(acl, [&](acl_entry_t entry, acl_tag_t tag) {
        if (*count == room)
            return false;
        if (tag != ACL_USER)
            return true;
        const int32_t own = RightsOf(entry);
        const std::unique_ptr<uid_t, AclRelease> uid(
            static_cast<uid_t *>(acl_get_qualifier(entry)));
        if (own < 0 || !uid) {
            StandInError(status, 4);
            return true;
        }
        KesAclEntry &out = entries[*count];
        if (const int error = AccountName(*uid, out.name, sizeof(out.name)); error != 0) {
            FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + error, 5);
            return true;
        }
        // What the mask takes away is not held; an entry holding nothing
        // keeps the account from every right.
        const int32_t held = own & mask;
        out.rights = held != 0 ? held : KES_FILE_PERMISSION_DENY;
        ++*count;
        return true;
    });
    return walked ? status : StandInError(status, 4);
}

KesStatus *AclBuildFailure(KesStatus *status, int error) {
    if (error == ENOMEM)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + error, 4);
}

KesStatus *StoreAccountEntries(KesStatus *status, acl_t current, const KesAclEntry *entries,
                               size_t count, const char *path) {
    AclHandle fresh;
    if (const int error = BuildAcl(current, entries, count, fresh); error != 0)
        return AclBuildFailure(status, error);
    if (acl_set_file(path, ACL_TYPE_ACCESS, fresh.get()) != 0)
        return StandInError(status, 5);
    return FillStatus(status, KES_OK, 0, 0);
}

}  // namespace korvo::kes
