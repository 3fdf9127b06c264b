// Accounts of the host by name and by number, for the Kes operations that
// name a file's owner or the accounts of its access list. Both answer 0 or an
// errno: ENOENT when there is no such account, ERANGE when a name does not
// fit, ENOMEM when no scratch memory could be had. Safe from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace korvo::kes {

// The account name of `uid` into `name` of `size` bytes.
int AccountName(uid_t uid, char *name, size_t size);

// The number of the account called `name`.
int AccountId(const char *name, uid_t *uid);

// The groups of the account called `name`: its primary group and every
// group that lists it.
int AccountGroups(const char *name, std::vector<gid_t> *groups);

}  // namespace korvo::kes
