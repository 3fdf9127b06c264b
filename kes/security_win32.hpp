// Owners of the Windows security objects the host layer works with: memory
// the security calls hand out with LocalAlloc, kernel handles, a file's
// security descriptor, the security identifier of the account the process
// runs as, and one privilege of the process token held for the time of one
// call. Only the *_win32.cc files of kes/ include this header. Each object
// belongs to the caller; one thread uses one object.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>
#include <vector>

namespace korvo::kes::win32 {

struct LocalRelease {
    void operator()(void *block) const noexcept { ::LocalFree(block); }
};
// A block from LocalAlloc (security descriptors, ACLs, SIDs of the security
// calls).
template <typename T>
using LocalBlock = std::unique_ptr<T, LocalRelease>;

// A kernel handle, closed when the object goes.
class KernelHandle {
  public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) noexcept : handle_(handle) {}
    KernelHandle(const KernelHandle &) = delete;
    KernelHandle &operator=(const KernelHandle &) = delete;
    ~KernelHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }
    HANDLE get() const noexcept { return handle_; }
    HANDLE *out() noexcept { return &handle_; }

  private:
    HANDLE handle_ = nullptr;
};

// The wide form of the UTF-8 `path` (as host::WidePath makes it) into
// `wide`: 0, or the Windows error that stands for why there is none
// (ERROR_NO_UNICODE_TRANSLATION for a path that is not UTF-8).
DWORD WidePathOrError(const char *path, std::wstring *wide);

// A file's security descriptor as GetNamedSecurityInfoW or GetSecurityInfo
// hand it out; `owner` and `dacl` point into it.
struct FileSecurity {
    LocalBlock<void> descriptor;
    PSID owner = nullptr;
    PACL dacl = nullptr;
};

// Reads the parts `what` (OWNER_SECURITY_INFORMATION,
// DACL_SECURITY_INFORMATION) of the security of the file at `path`, or of
// the open `handle`. 0 or the Windows error.
DWORD ReadFileSecurity(const char *path, SECURITY_INFORMATION what, FileSecurity *security);
DWORD ReadHandleSecurity(HANDLE handle, SECURITY_INFORMATION what, FileSecurity *security);

// The SID of the account the process runs as (TokenUser of its token), in
// `sid`'s storage. 0 or the Windows error.
DWORD ProcessUserSid(std::vector<unsigned char> *sid);

// The account name of `sid` on the local system, without its domain, into
// `name` of `size` bytes, in UTF-8. 0 or the Windows error
// (ERROR_INSUFFICIENT_BUFFER when the name does not fit).
DWORD AccountNameOfSid(PSID sid, char *name, DWORD size);

// The SID of the account `name` (UTF-8) on the local system. 0 or the
// Windows error.
DWORD SidOfAccount(const char *name, std::vector<unsigned char> *sid);

// One privilege of the process token, enabled for the lifetime of the object
// when it was not enabled yet, and disabled again when the object goes.
class TokenPrivilege {
  public:
    explicit TokenPrivilege(HANDLE token) noexcept : token_(token) {}
    TokenPrivilege(const TokenPrivilege &) = delete;
    TokenPrivilege &operator=(const TokenPrivilege &) = delete;
    ~TokenPrivilege();

    // Enables the privilege `name` ("SeTakeOwnershipPrivilege"). 0 when the
    // token now holds it enabled, else the Windows error
    // (ERROR_NOT_ALL_ASSIGNED when the token does not have it).
    DWORD enable(const char *name) noexcept;

  private:
    HANDLE token_;
    LUID luid_{};
    bool enabled_here_ = false;
};

}  // namespace korvo::kes::win32
