// The Windows security helpers of the host layer: descriptors, SIDs,
// account names and token privileges.
#include "kes/security_win32.hpp"

#include <cstring>

namespace korvo::kes::win32 {

DWORD ReadFileSecurity(const char *path, SECURITY_INFORMATION what, FileSecurity *security) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetNamedSecurityInfoA(
        path, SE_FILE_OBJECT, what,
        (what & OWNER_SECURITY_INFORMATION) ? &security->owner : nullptr, nullptr,
        (what & DACL_SECURITY_INFORMATION) ? &security->dacl : nullptr, nullptr, &descriptor);
    security->descriptor.reset(descriptor);
    return error;
}

DWORD ReadHandleSecurity(HANDLE handle, SECURITY_INFORMATION what, FileSecurity *security) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(
        handle, SE_FILE_OBJECT, what,
        (what & OWNER_SECURITY_INFORMATION) ? &security->owner : nullptr, nullptr,
        (what & DACL_SECURITY_INFORMATION) ? &security->dacl : nullptr, nullptr, &descriptor);
    security->descriptor.reset(descriptor);
    return error;
}

DWORD ProcessUserSid(std::vector<unsigned char> *sid) {
    KernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.out()))
        return ::GetLastError();
    DWORD needed = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    if (needed == 0)
        return ::GetLastError();
    std::vector<unsigned char> room(needed);
    if (!::GetTokenInformation(token.get(), TokenUser, room.data(), needed, &needed))
        return ::GetLastError();
    const PSID user = reinterpret_cast<TOKEN_USER *>(room.data())->User.Sid;
    sid->assign(static_cast<unsigned char *>(user),
                static_cast<unsigned char *>(user) + ::GetLengthSid(user));
    return 0;
}

DWORD AccountNameOfSid(PSID sid, char *name, DWORD size) {
    // The wide call, and the conversion here: the narrow one of Wine answers
    // success with a cut or garbled name when the buffer is one byte short.
    if (size > 0)
        name[0] = '\0';
    wchar_t wide[1024], domain[1024];
    DWORD wideSize = sizeof wide / sizeof wide[0];
    DWORD domainSize = sizeof domain / sizeof domain[0];
    SID_NAME_USE use;
    if (!::LookupAccountSidW(nullptr, sid, wide, &wideSize, domain, &domainSize, &use))
        return ::GetLastError();
    const int need = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (need <= 0)
        return ::GetLastError();
    if (static_cast<DWORD>(need) > size)
        return ERROR_INSUFFICIENT_BUFFER;
    if (::WideCharToMultiByte(CP_ACP, 0, wide, -1, name, need, nullptr, nullptr) != need) {
        const DWORD error = ::GetLastError();
        name[0] = '\0';
        return error;
    }
    return 0;
}

DWORD SidOfAccount(const char *name, std::vector<unsigned char> *sid) {
    // Room for a SID of eight sub-authorities, the most an account has.
    sid->assign(::GetSidLengthRequired(8), 0);
    char domain[1024];
    DWORD sidSize = static_cast<DWORD>(sid->size());
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!::LookupAccountNameA(nullptr, name, sid->data(), &sidSize, domain, &domainSize, &use))
        return ::GetLastError();
    return 0;
}

TokenPrivilege::~TokenPrivilege() {
    if (!enabled_here_)
        return;
    const DWORD saved = ::GetLastError();
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid_;
    privileges.Privileges[0].Attributes = 0;
    ::AdjustTokenPrivileges(token_, FALSE, &privileges, 0, nullptr, nullptr);
    ::SetLastError(saved);
}

DWORD TokenPrivilege::enable(const char *name) noexcept {
    if (!::LookupPrivilegeValueA(nullptr, name, &luid_))
        return ::GetLastError();
    PRIVILEGE_SET check{};
    check.PrivilegeCount = 1;
    check.Control = PRIVILEGE_SET_ALL_NECESSARY;
    check.Privilege[0].Luid = luid_;
    BOOL held = FALSE;
    if (::PrivilegeCheck(token_, &check, &held) && held)
        return 0;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid_;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds without enabling a privilege the token
    // does not have; only the last error tells.
    if (!::AdjustTokenPrivileges(token_, FALSE, &privileges, 0, nullptr, nullptr))
        return ::GetLastError();
    if (const DWORD error = ::GetLastError(); error != ERROR_SUCCESS)
        return error;
    enabled_here_ = true;
    return 0;
}

}  // namespace korvo::kes::win32
