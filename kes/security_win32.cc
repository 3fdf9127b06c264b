// The Windows security helpers of the host layer: descriptors, SIDs,
// account names and token privileges.
#include "kes/security_win32.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "kes/host_handle_win32.hpp"

namespace korvo::kes::win32 {

DWORD WidePathOrError(const char *path, std::wstring *wide) {
    *wide = host::WidePath(path);
    if (!wide->empty())
        return 0;
    switch (errno) {
        case EILSEQ:
            return ERROR_NO_UNICODE_TRANSLATION;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_FILE_NOT_FOUND;
    }
}

DWORD ReadFileSecurity(const char *path, SECURITY_INFORMATION what, FileSecurity *security) {
    std::wstring wide;
    if (const DWORD error = WidePathOrError(path, &wide); error != 0)
        return error;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetNamedSecurityInfoW(
        wide.c_str(), SE_FILE_OBJECT, what,
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
    std::string text;
    if (!host::Utf8OfWide(wide, &text))
        return ERROR_NO_UNICODE_TRANSLATION;
    if (text.size() >= size)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(name, text.c_str(), text.size() + 1);
    return 0;
}

DWORD SidOfAccount(const char *name, std::vector<unsigned char> *sid) {
    // Room for a SID of eight sub-authorities, the most an account has.
    std::wstring wide;
    if (!host::WideOfUtf8(name, &wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    sid->assign(::GetSidLengthRequired(8), 0);
    wchar_t domain[1024];
    DWORD sidSize = static_cast<DWORD>(sid->size());
    DWORD domainSize = sizeof domain / sizeof domain[0];
    SID_NAME_USE use;
    if (!::LookupAccountNameW(nullptr, wide.c_str(), sid->data(), &sidSize, domain, &domainSize,
                              &use))
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
