// Account look-ups through the reentrant password-database calls, which need
// scratch room of a size the system only hints at: it doubles until the
// entry fits.
#include "kes/kes_account.hpp"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "kes/kes_block.hpp"
#include "kes/kes_path_rules.hpp"

namespace korvo::kes {
namespace {

// Runs `lookup(entry, scratch, scratchSize, found)` (a getpw*_r call) with
// growing scratch room, then `use(*found)` on the entry found; 0 or an errno.
template <typename Lookup, typename Use>
int WithAccount(Lookup lookup, Use use) {
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    size_t scratchSize = hint > 0 ? static_cast<size_t>(hint) : 1024;
    constexpr size_t kLargestScratch = size_t{1} << 20;
    for (;;) {
        KesText scratch(static_cast<char *>(KesMemoryMalloc(scratchSize)));
        if (!scratch)
            return ENOMEM;
        struct passwd entry;
        struct passwd *found = nullptr;
        const int rc = lookup(&entry, scratch.get(), scratchSize, &found);
        if (rc == ERANGE && scratchSize < kLargestScratch) {
            scratchSize *= 2;
            continue;
        }
        if (rc != 0)
            return rc;
        if (found == nullptr)
            return ENOENT;
        return use(*found);
    }
}

}  // namespace

int AccountName(uid_t uid, char *name, size_t size) {
    return WithAccount(
        [uid](struct passwd *entry, char *scratch, size_t scratchSize, struct passwd **found) {
            return ::getpwuid_r(uid, entry, scratch, scratchSize, found);
        },
        [name, size](const struct passwd &found) {
            const std::string_view account(found.pw_name);
            if (account.size() >= size)
                return ERANGE;
            CopyCut(name, size, account);
            return 0;
        });
}

int AccountId(const char *name, uid_t *uid) {
    return WithAccount(
        [name](struct passwd *entry, char *scratch, size_t scratchSize, struct passwd **found) {
            return ::getpwnam_r(name, entry, scratch, scratchSize, found);
        },
        [uid](const struct passwd &found) {
            *uid = found.pw_uid;
            return 0;
        });
}

int AccountGroups(const char *name, std::vector<gid_t> *groups) {
    return WithAccount(
        [name](struct passwd *entry, char *scratch, size_t scratchSize, struct passwd **found) {
            return ::getpwnam_r(name, entry, scratch, scratchSize, found);
        },
        [groups](const struct passwd &found) {
            // getgrouplist answers -1 and the number it needs when the room
            // is too small; the number of groups is bounded by the system.
            int room = 16;
            for (;;) {
                groups->resize(static_cast<size_t>(room));
                int count = room;
                if (::getgrouplist(found.pw_name, found.pw_gid, groups->data(), &count) >= 0) {
                    groups->resize(static_cast<size_t>(count));
                    return 0;
                }
                if (count <= room || count > 65536)
                    return ENOMEM;
                room = count;
            }
        });
}

}  // namespace korvo::kes
