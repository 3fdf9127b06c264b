// The host-independent part of the access-list operations: reducing a
// rights word to the bits that report it, finding an account's entry in a
// list, and changing an entry for a grant or a revoke. Pure functions over
// caller-owned arrays; any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kes/kes_acl.h"

namespace korvo::kes {

// The rights word with each right asked for by any of its bits reduced to the
// bit that reports it (0x1, 0x10, 0x100), and the deny bit kept.
inline int32_t CanonicalRights(int32_t rights) {
    int32_t canonical = rights & KES_FILE_PERMISSION_DENY;
    if ((rights & KES_FILE_PERMISSION_READ_ANY) != 0)
        canonical |= KES_FILE_PERMISSION_READ;
    if ((rights & KES_FILE_PERMISSION_WRITE_ANY) != 0)
        canonical |= KES_FILE_PERMISSION_WRITE;
    if ((rights & KES_FILE_PERMISSION_EXECUTE_ANY) != 0)
        canonical |= KES_FILE_PERMISSION_EXECUTE;
    return canonical;
}

enum class AclChange { kGrant, kRevoke };

// The entry of `account` among the `count` entries of `list` (names compare
// exactly, case included), or list + count.
inline KesAclEntry *FindAclEntry(KesAclEntry *list, size_t count, const char *account) {
    return std::find_if(list, list + count, [account](const KesAclEntry &candidate) {
        return std::strcmp(candidate.name, account) == 0;
    });
}

// Applies a grant or a revoke of `rights` to an existing entry. A grant
// turns a denying entry into one allowing exactly `rights` and adds them to
// an allowing one; a revoke adds them to a denying entry (it denies more) and
// takes them from an allowing one.
inline void ChangeAclEntry(AclChange change, KesAclEntry *entry, int32_t rights) {
    const bool denies = (entry->rights & KES_FILE_PERMISSION_DENY) != 0;
    if (change == AclChange::kGrant)
        entry->rights = denies ? rights : entry->rights | rights;
    else
        entry->rights = denies ? entry->rights | rights : entry->rights & ~rights;
}

}  // namespace korvo::kes
