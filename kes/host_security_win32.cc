// File owners on Windows: the owner SID of the file's security descriptor,
// named with LookupAccountSidW (in UTF-8) and compared with the process token's user.
// Permissions are the C runtime's read and write mode bits, which the file's
// read-only attribute carries.
#include "kes/host_security.hpp"

#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "kes/host_handle_win32.hpp"
#include "kes/security_win32.hpp"

namespace korvo::host {

namespace {

bool OwnerIsSelf(PSID owner) {
    std::vector<unsigned char> self;
    return owner != nullptr && ::IsValidSid(owner) && kes::win32::ProcessUserSid(&self) == 0 &&
           ::EqualSid(owner, self.data());
}

}  // namespace

int FileOwnerName(const char *path, char *name, std::size_t size, OwnerFailure *failure) noexcept {
    *failure = OwnerFailure::kNone;
    if (size > 0)
        name[0] = '\0';
    try {
        kes::win32::FileSecurity security;
        if (const DWORD error =
                kes::win32::ReadFileSecurity(path, OWNER_SECURITY_INFORMATION, &security);
            error != 0) {
            *failure = OwnerFailure::kFile;
            return static_cast<int>(error);
        }
        const DWORD room = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
        if (const DWORD error = kes::win32::AccountNameOfSid(security.owner, name, room);
            error != 0) {
            *failure = OwnerFailure::kAccount;
            return static_cast<int>(error);
        }
        return 0;
    } catch (...) {
        *failure = OwnerFailure::kAccount;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

bool PathOwnedBySelf(const char *path) noexcept {
    try {
        kes::win32::FileSecurity security;
        return kes::win32::ReadFileSecurity(path, OWNER_SECURITY_INFORMATION, &security) == 0 &&
               OwnerIsSelf(security.owner);
    } catch (...) {
        return false;
    }
}

bool LinkOwnedBySelf(const char *path) noexcept {
    // Opened without following a reparse point, and with no right but
    // reading the security descriptor: a file another process holds open
    // exclusively still answers.
    std::wstring wide;
    try {
        wide = WidePath(path);
    } catch (...) {
        return false;
    }
    if (wide.empty())
        return false;
    const kes::win32::KernelHandle link(::CreateFileW(
        wide.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (link.get() == INVALID_HANDLE_VALUE)
        return false;
    try {
        kes::win32::FileSecurity security;
        return kes::win32::ReadHandleSecurity(link.get(), OWNER_SECURITY_INFORMATION, &security) ==
                   0 &&
               OwnerIsSelf(security.owner);
    } catch (...) {
        return false;
    }
}

bool DescriptorOwnedBySelf(int fd) noexcept {
    const intptr_t handle = ::_get_osfhandle(fd);
    if (handle == -1)
        return false;
    try {
        kes::win32::FileSecurity security;
        return kes::win32::ReadHandleSecurity(reinterpret_cast<HANDLE>(handle),
                                              OWNER_SECURITY_INFORMATION, &security) == 0 &&
               OwnerIsSelf(security.owner);
    } catch (...) {
        return false;
    }
}

int SetOwnerReadWrite(const char *path, bool read, bool write) noexcept {
    // The C runtime knows only read (0x100) and write (0x80); a file without
    // write permission gets the read-only attribute.
    int mode = 0;
    if (read)
        mode |= _S_IREAD;
    if (write)
        mode |= _S_IWRITE;
    try {
        const std::wstring wide = WidePath(path);
        if (wide.empty())
            return errno;
        return ::_wchmod(wide.c_str(), mode) == 0 ? 0 : errno;
    } catch (...) {
        return ENOMEM;
    }
}

}  // namespace korvo::host
