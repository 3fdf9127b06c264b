// Changing a file's owner by account name, under the take-ownership
// privilege of the process token.
#include <windows.h>

#include <aclapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "kes/kes_acl.h"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"
#include "kes/security_win32.hpp"

using korvo::kes::FillStatus;
using korvo::kes::kSystemErrorBase;
namespace win32 = korvo::kes::win32;

namespace {

KesStatus *WindowsError(KesStatus *status, DWORD error, int32_t step) {
    return FillStatus(status, KES_SYSTEM_ERROR, kSystemErrorBase + static_cast<int32_t>(error),
                      step);
}

}  // namespace

extern "C" {

KesStatus *KesFileSetOwner(KesStatus *status, const char *account, const char *path) {
    if (account == nullptr || path == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    const korvo::kes::HostPath host(path, korvo::kes::HostPath::Foreign::kRefuse);
    if (!host.usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    try {
        win32::KernelHandle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES,
                                token.out()))
            return WindowsError(status, ::GetLastError(), 3);
        // Taking ownership lets the process make itself the owner; restoring
        // lets it name any account, when the token has that privilege too.
        // Both are given back when the call ends, whatever its outcome.
        win32::TokenPrivilege takeOwnership(token.get());
        if (const DWORD error = takeOwnership.enable("SeTakeOwnershipPrivilege"); error != 0)
            return WindowsError(status, error, 4);
        win32::TokenPrivilege restore(token.get());
        static_cast<void>(restore.enable("SeRestorePrivilege"));
        std::vector<unsigned char> sid;
        if (const DWORD error = win32::SidOfAccount(account, &sid); error != 0)
            return WindowsError(status, error, 5);
        // SetNamedSecurityInfoW takes the path as a writable string.
        std::wstring target;
        if (const DWORD error = win32::WidePathOrError(host.c_str(), &target); error != 0)
            return WindowsError(status, error, 6);
        if (const DWORD error =
                ::SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                        sid.data(), nullptr, nullptr, nullptr);
            error != ERROR_SUCCESS)
            return WindowsError(status, error, 6);
        return FillStatus(status, KES_OK, 0, 0);
    } catch (...) {
        return FillStatus(status, KES_NO_MEMORY, 0, 5);
    }
}
}
