// The Kes access list over a file's POSIX access ACL (libacl): reading the
// ACL, taking its named-user entries out as Kes entries, and storing a new
// ACL whose named-user entries are the Kes entries given. kes_acl.h says how
// the two map. The ACL handles are owned by the caller; one thread uses one
// handle.
#pragma once

#include <sys/acl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "kes/kes_acl.h"
#include "kes/kes_acl_entries.hpp"
#include "kes/kes_status.h"

namespace korvo::kes {

struct AclRelease {
    void operator()(void *object) const noexcept { acl_free(object); }
};
using AclHandle = std::unique_ptr<std::remove_pointer_t<acl_t>, AclRelease>;

// Calls visit(entry, tag) for each entry of `acl` in order while it answers
// true. False (errno set) when an entry or its tag cannot be read.
template <typename Visit>
bool ForEachEntry(acl_t acl, Visit visit) {
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY;; which = ACL_NEXT_ENTRY) {
        const int found = acl_get_entry(acl, which, &entry);
        if (found <= 0)
            return found == 0;
        acl_tag_t tag;
        if (acl_get_tag_type(entry, &tag) != 0)
            return false;
        if (!visit(entry, tag))
            return true;
    }
}

// The rights (0x1, 0x10, 0x100) an entry's permissions hold; -1 (errno set)
// when they cannot be read.
int32_t RightsOf(acl_entry_t entry);

// Gives an entry exactly the permissions of `rights`; false (errno set) on
// failure.
bool SetRights(acl_entry_t entry, int32_t rights);

// The rights of the mask, which bounds every group-class entry (named users
// and groups, the owning group); all rights when the ACL has none. -1 (errno
// set) on failure.
int32_t MaskRights(acl_t acl);

// The rights `account` holds on the file at `path` (a host path) through the
// entries of `acl` other than a named entry of its own: the owner's entry for
// the file's owner, else the group entries of its groups within the mask,
// else the others' entry. Sets *owner when the account owns the file. 0 or an
// errno (ENOENT for no such account).
int RightsWithoutEntry(acl_t acl, const char *path, const char *account, int32_t *rights,
                       bool *owner);

// Gives the owner's entry of `acl` exactly `rights`. 0 or an errno.
int SetOwnerRights(acl_t acl, int32_t rights);

// The access ACL of the file at `path` (a host path); null with errno set
// when it cannot be read. A file on a file system without ACLs answers the
// ACL its mode bits make.
AclHandle ReadAccessAcl(const char *path);

// How many entries `acl` holds, of every kind: room enough for its account
// entries.
size_t CountAclEntries(acl_t acl);

// Fills `entries`, which has room for *count, with the account entries of
// `acl` in its order, and sets *count to the number filled. Statuses as
// KesFileGetAcl's steps 4 and 5; 0 when every entry was read.
KesStatus *CollectAccountEntries(KesStatus *status, acl_t acl, KesAclEntry *entries, size_t *count);

// The status of a failure to build a new ACL: 12, 0, 3 when memory is
// exhausted, else -4, errno + 200, 4.
KesStatus *AclBuildFailure(KesStatus *status, int error);

// Stores on `path` the ACL made of `current` (the file's ACL as read) with
// its named-user entries replaced by the `count` entries given. Statuses as
// KesFileSetAcl's steps 3 to 5.
KesStatus *StoreAccountEntries(KesStatus *status, acl_t current, const KesAclEntry *entries,
                               size_t count, const char *path);

}  // namespace korvo::kes
