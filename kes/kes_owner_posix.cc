// Changing a file's owner by account name, under the privilege to change
// owners.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "kes/kes_account.hpp"
#include "kes/kes_acl.h"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"

using korvo::kes::FillStatus;
using korvo::kes::StandInError;

namespace {

// The calling thread's privilege to change owners (CAP_CHOWN) for the time of
// one change: raised from the permitted set when it is not in effect, and
// lowered again when the object goes. Capabilities belong to the thread.
class ChownPrivilege {
  public:
    ChownPrivilege() = default;
    ChownPrivilege(const ChownPrivilege &) = delete;
    ChownPrivilege &operator=(const ChownPrivilege &) = delete;
    ~ChownPrivilege() {
        if (!raised_)
            return;
        const int saved = errno;
        data_[0].effective &= ~kBit;
        ::syscall(SYS_capset, &header_, data_);
        errno = saved;
    }

    // 0 when the thread now holds the privilege; else, with errno set, the
    // step that failed: 3 when its capabilities cannot be read, 4 when the
    // privilege cannot be raised.
    int acquire() {
        if (::syscall(SYS_capget, &header_, data_) != 0)
            return 3;
        if ((data_[0].effective & kBit) != 0)
            return 0;
        data_[0].effective |= kBit;
        if (::syscall(SYS_capset, &header_, data_) != 0)
            return 4;
        raised_ = true;
        return 0;
    }

  private:
    static constexpr uint32_t kBit = uint32_t{1} << CAP_CHOWN;
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data_[_LINUX_CAPABILITY_U32S_3]{};
    bool raised_ = false;
};

}  // namespace

extern "C" {

KesStatus *KesFileSetOwner(KesStatus *status, const char *account, const char *path) {
    if (account == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    ChownPrivilege privilege;
    if (const int step = privilege.acquire(); step != 0)
        return StandInError(status, step);
    uid_t uid;
    if (const int error = korvo::kes::AccountId(account, &uid); error != 0)
        return FillStatus(status, KES_SYSTEM_ERROR, korvo::kes::kSystemErrorBase + error, 5);
    if (::chown(host.c_str(), uid, static_cast<gid_t>(-1)) != 0)
        return StandInError(status, 6);
    return FillStatus(status, KES_OK, 0, 0);
}
}
