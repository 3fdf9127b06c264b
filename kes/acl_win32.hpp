// The Kes access list over a file's discretionary ACL on Windows: the
// translation between Kes entries (account name, rights word) and access
// control entries, shared by the read, replace, grant and revoke operations.
// Only the *_win32.cc files of kes/ include this header. The ACLs belong to
// their file's security descriptor (FileSecurity); one thread uses one.
#pragma once

#include <windows.h>

#include <cstddef>

#include "kes/kes_acl.h"
#include "kes/kes_status.h"
#include "kes/security_win32.hpp"

namespace korvo::kes::win32 {

// The number of access control entries of `dacl` (0 for a file without a
// list): room enough for its Kes entries.
size_t AclEntryCount(PACL dacl);

// Fills `entries`, which has room for *count, with the allowing and denying
// entries of `dacl` in its order, and sets *count to the number filled.
// Statuses as KesFileGetAcl's steps 4 and 5; 0 when every entry was read.
KesStatus *CollectAclEntries(KesStatus *status, PACL dacl, KesAclEntry *entries, size_t *count);

// Stores on `path` (a host path) the list made of the `count` entries
// alone. Statuses as KesFileSetAcl's steps 3 to 5.
KesStatus *StoreAclEntries(KesStatus *status, const KesAclEntry *entries, size_t count,
                           const char *path);

// The access mask a Kes entry asks for: the generic file rights of its read,
// write and execute bits (all access when it has all three).
ACCESS_MASK AccessOfRights(int32_t rights);

// The Kes rights an allowing or denying entry's mask reports.
int32_t RightsOfAllowed(ACCESS_MASK mask);
int32_t RightsOfDenied(ACCESS_MASK mask);

}  // namespace korvo::kes::win32
