// Reading and replacing a file's access list.
#include "kes/kes_acl.h"

#include <cerrno>
#include <utility>

#include "kes/kes_host_path.hpp"
#include "kes/kes_posix_acl.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::AclHandle;
using korvo::kes::FillStatus;
using korvo::kes::HostPath;

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
    const AclHandle acl = korvo::kes::ReadAccessAcl(host.c_str());
    if (!acl)
        return korvo::kes::StandInError(status, 3);
    korvo::kes::CollectAccountEntries(status, acl.get(), entries, &room);
    *count = room;
    return status;
}

KesStatus *KesFileSetAcl(KesStatus *status, const KesAclEntry *entries, const char *path,
                         size_t count) {
    if (path == nullptr || entries == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const HostPath host(path, HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    // The entries the list does not express are kept from the file's ACL. A
    // file whose ACL cannot be read (a missing file) cannot take a new one
    // either: that is where storing the list fails.
    const AclHandle current = korvo::kes::ReadAccessAcl(host.c_str());
    if (!current)
        return errno == ENOMEM ? FillStatus(status, KES_NO_MEMORY, 0, 3)
                               : korvo::kes::StandInError(status, 5);
    return korvo::kes::StoreAccountEntries(status, current.get(), entries, count, host.c_str());
}
}
