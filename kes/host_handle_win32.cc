// The handle owner's companions on Windows: error numbers, wide paths and
// file times (see host_handle_win32.hpp).
#include <windows.h>

#include <aclapi.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "kes/host_handle_win32.hpp"

namespace korvo::host {

namespace {

// FileDispositionInfoEx, which this SDK's enumeration does not name yet.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

size_t NameStart(const std::wstring &path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? 0 : slash + 1;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The length of the root of `path` ("C:\", "\", "\\server\share\"), which
// keeps its trailing separator; 0 for a relative path.
size_t RootLength(const std::wstring &path) {
    if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]))
        return 3;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        size_t parts = 0;
        for (size_t i = 2; i < path.size(); ++i)
            if (IsSeparator(path[i]) && ++parts == 2)
                return i + 1;
        return path.size();
    }
    if (!path.empty() && IsSeparator(path[0]))
        return 1;
    return 0;
}

// Paths of this many characters or more get the long form: CreateDirectory
// refuses plain paths beyond MAX_PATH less room for an 8.3 name.
constexpr size_t kLongPath = MAX_PATH - 12;

}  // namespace

int ErrnoOfError(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_MOD_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_CANNOT_MAKE:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_INVALID_HANDLE:
        case ERROR_DIRECT_ACCESS_HANDLE:
            return EBADF;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BUFFER_OVERFLOW:
            return ENAMETOOLONG;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_NOT_SUPPORTED:
        case ERROR_CALL_NOT_IMPLEMENTED:
            return ENOSYS;
        case ERROR_NO_UNICODE_TRANSLATION:
            return EILSEQ;
        case ERROR_INVALID_PARAMETER:
        case ERROR_NEGATIVE_SEEK:
        case ERROR_INVALID_FUNCTION:
            return EINVAL;
        case ERROR_BUSY:
        case ERROR_DRIVE_LOCKED:
            return EBUSY;
        default:
            return EIO;
    }
}

bool FailWithLastError() noexcept {
    errno = ErrnoOfError(::GetLastError());
    return false;
}

std::wstring WidePath(const char *path) {
    if (path == nullptr) {
        errno = EFAULT;
        return {};
    }
    if (*path == '\0') {
        errno = ENOENT;
        return {};
    }
    std::wstring wide;
    if (!WideOfUtf8(path, &wide))
        return {};
    // A path already in the long or the device form is the caller's exact
    // choice.
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0)
        return wide;
    for (wchar_t &c : wide)
        if (c == L'/')
            c = L'\\';
    const size_t root = RootLength(wide);
    while (wide.size() > root && wide.size() > 1 && wide.back() == L'\\')
        wide.pop_back();
    if (wide.size() < kLongPath)
        return wide;
    // The long form takes a full path with nothing left to resolve.
    const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0) {
        FailWithLastError();
        return {};
    }
    std::wstring full(need, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) {
        errno = ENAMETOOLONG;
        return {};
    }
    full.resize(got);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

UniqueHandle OpenForStatus(const std::wstring &path, bool link) noexcept {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return UniqueHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr));
}

namespace {

// The TOKEN_USER of the process's own token, or nothing when it cannot be
// read. The process token's user never changes, so it is read once: every
// status record asks for it.
std::vector<unsigned char> ReadProcessUser() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const UniqueHandle tokenOwner(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return {};
    std::vector<unsigned char> user(size);
    if (!::GetTokenInformation(token, TokenUser, user.data(), size, &size))
        return {};
    return user;
}

}  // namespace

bool OwnedBySelf(HANDLE handle) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, decltype(&::LocalFree)> held(descriptor, &::LocalFree);
    try {
        static const std::vector<unsigned char> user = ReadProcessUser();
        if (user.empty() || owner == nullptr)
            return false;
        const auto *tokenUser = reinterpret_cast<const TOKEN_USER *>(user.data());
        return ::EqualSid(owner, tokenUser->User.Sid) != 0;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

int64_t UnixNanoseconds(LARGE_INTEGER time) noexcept {
    // 100 ns units from 1601-01-01 to 1970-01-01.
    constexpr int64_t kEpochOffset = INT64_C(116444736000000000);
    return (time.QuadPart - kEpochOffset) * 100;
}

int64_t UnixNanoseconds(const FILETIME &time) noexcept {
    LARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = static_cast<LONG>(time.dwHighDateTime);
    return UnixNanoseconds(value);
}

bool IsDirectory(const std::wstring &path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The counter alone tells this process's names
// apart (mixing it with the clock could give one name twice); the clock
// keeps a later process of the same id off names an earlier one may have
// left.
std::wstring AsideTag() {
    static std::atomic<uint32_t> counter{0};
    wchar_t tag[kAsideTagLength + 1];
    std::swprintf(tag, kAsideTagLength + 1, L"%08lx-%08lx-%08lx",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long>(::GetTickCount()),
                  static_cast<unsigned long>(counter.fetch_add(1)));
    return tag;
}

std::wstring AsideName(const std::wstring &path) {
    return path.substr(0, NameStart(path)) + L".korvo-removed-" + AsideTag();
}

bool DeleteWhenClosed(const std::wstring &path) {
    UniqueHandle handle(::CreateFileW(
        path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle)
        return FailWithLastError();
    FILE_DISPOSITION_INFO_EX posix{};
    posix.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                  FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;
    if (::SetFileInformationByHandle(handle.get(), kDispositionInfoEx, &posix, sizeof posix))
        return true;
    // Without POSIX deletion the read-only attribute is cleared first, as
    // unlink ignores it.
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (basic.FileAttributes == 0)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(handle.get(), FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO plain{};
    plain.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle.get(), FileDispositionInfo, &plain, sizeof plain) !=
               0 ||
           FailWithLastError();
}

}  // namespace korvo::host
