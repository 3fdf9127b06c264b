// What the Windows host files share: the owner of a kernel handle, the errno
// value of a Win32 error, the conversions between UTF-8 and UTF-16 (from
// host_utf8_win32.hpp, which the programs' host files share too), the wide
// form of a caller's path (separators made backslashes, trailing
// separators dropped but for a root, and the "\\?\" prefix for paths too
// long for the plain form), and the names and deletion of files on their
// way out.
//
// Only the *_win32.cc files of kes/ include this header. Nothing here keeps
// state but the counter of AsideTag; any thread may call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "kes/host_utf8_win32.hpp"

namespace korvo::host {

// An owned kernel handle, closed when the owner goes; closing keeps the
// thread's last error, so that the error being reported survives cleanup.
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle &&other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other)
            reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (*this) {
            const DWORD saved = ::GetLastError();
            ::CloseHandle(handle_);
            ::SetLastError(saved);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The errno value that stands for the Win32 error `error` (EIO for errors
// without a closer one).
int ErrnoOfError(DWORD error) noexcept;

// Sets errno from GetLastError() and returns false, for the calls that
// report failure that way.
bool FailWithLastError() noexcept;

// The wide path Win32 calls take for the caller's UTF-8 `path`. Empty with
// errno set (ENOENT for an empty path, ENAMETOOLONG, EILSEQ for text that is
// not UTF-8) when there is none.
std::wstring WidePath(const char *path);

// Opens `path` for the attributes only (links followed unless `link`), as
// status calls need: directories open too, and no sharing mode of another
// process's open stands in the way.
UniqueHandle OpenForStatus(const std::wstring &path, bool link) noexcept;

// Whether the file behind `handle` is owned by the account the process runs
// as.
bool OwnedBySelf(HANDLE handle) noexcept;

// Seconds and nanoseconds since 1970 UTC of a Windows file time (100 ns
// units since 1601).
int64_t UnixNanoseconds(const FILETIME &time) noexcept;
int64_t UnixNanoseconds(LARGE_INTEGER time) noexcept;

// Whether `path` names a directory.
bool IsDirectory(const std::wstring &path);

// The tag that tells apart the names of files on their way out:
// "<pid>-<ticks>-<counter>", each 8 hex digits, unique to this process and
// moment.
constexpr size_t kAsideTagLength = 26;
std::wstring AsideTag();

// A name beside `path` for the file at `path` on its way out:
// ".korvo-removed-<tag>", a dot name of the library's that nothing looks
// for.
std::wstring AsideName(const std::wstring &path);

// Marks the file `path` for deletion through a handle opened with every
// sharing mode, so that whoever holds it open keeps reading it: POSIX
// deletion where the host has it, else deletion with the last handle.
// False with errno set when it cannot be marked.
bool DeleteWhenClosed(const std::wstring &path);

}  // namespace korvo::host
