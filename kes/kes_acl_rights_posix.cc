// The rights an account holds on a file without a named entry of its own,
// and the owner's entry: what a revoke from such an account starts from.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "kes/kes_account.hpp"
#include "kes/kes_posix_acl.hpp"

namespace korvo::kes {

int RightsWithoutEntry(acl_t acl, const char *path, const char *account, int32_t *rights,
                       bool *owner) {
    uid_t uid;
    if (const int error = AccountId(account, &uid); error != 0)
        return error;
    struct stat file;
    if (::stat(path, &file) != 0)
        return errno;
    *owner = uid == file.st_uid;
    std::vector<gid_t> groups;
    if (!*owner) {
        if (const int error = AccountGroups(account, &groups); error != 0)
            return error;
    }
    const int32_t mask = MaskRights(acl);
    if (mask < 0)
        return errno;
    const auto member = [&groups](gid_t gid) {
        return std::find(groups.begin(), groups.end(), gid) != groups.end();
    };
    // The order in which the system checks access: the owner, then the
    // groups (any group entry of the account's groups that grants a right
    // gives it; a matching group entry that grants nothing keeps the others'
    // rights away), then everyone else.
    int32_t ownerRights = 0, groupRights = 0, otherRights = 0;
    bool inAGroup = false;
    int error = 0;
    const bool walked = ForEachEntry(acl, [&](acl_entry_t entry, acl_tag_t tag) {
        const int32_t held = RightsOf(entry);
        if (held < 0) {
            error = errno;
            return false;
        }
        if (tag == ACL_USER_OBJ) {
            ownerRights = held;
        } else if (tag == ACL_OTHER) {
            otherRights = held;
        } else if (tag == ACL_GROUP_OBJ || tag == ACL_GROUP) {
            gid_t gid = file.st_gid;
            if (tag == ACL_GROUP) {
                void *qualifier = acl_get_qualifier(entry);
                if (qualifier == nullptr) {
                    error = errno;
                    return false;
                }
                gid = *static_cast<gid_t *>(qualifier);
                acl_free(qualifier);
            }
            if (member(gid)) {
                inAGroup = true;
                groupRights |= held & mask;
            }
        }
        return true;
    });
    if (!walked || error != 0)
        return error != 0 ? error : errno;
    *rights = *owner ? ownerRights : inAGroup ? groupRights : otherRights;
    return 0;
}

int SetOwnerRights(acl_t acl, int32_t rights) {
    int error = 0;
    const bool walked = ForEachEntry(acl, [&](acl_entry_t entry, acl_tag_t tag) {
        if (tag != ACL_USER_OBJ)
            return true;
        if (!SetRights(entry, rights))
            error = errno;
        return false;
    });
    return walked ? error : errno;
}

}  // namespace korvo::kes
