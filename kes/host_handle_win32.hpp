// What the Windows host files share: the owner of a kernel handle, the errno
// value of a Win32 error, the conversions between the library's narrow
// texts (UTF-8, as on every host) and the UTF-16 the Win32 calls take, and
// the wide form of a caller's path (separators made backslashes, trailing
// separators dropped but for a root, and the "\\?\" prefix for paths too
// long for the plain form).
//
// Only the *_win32.cc files of kes/ include this header. Nothing here keeps
// state; any thread may call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

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

// The UTF-16 form of the UTF-8 text `text` into `wide`. False with errno
// EILSEQ when `text` is not well-formed UTF-8: a malformed name is refused
// rather than read as some other file's.
bool WideOfUtf8(const char *text, std::wstring *wide);

// The UTF-8 form of the UTF-16 text `wide` into `text`. False with errno
// EILSEQ for text holding an unpaired surrogate, which has no UTF-8 form.
bool Utf8OfWide(const wchar_t *wide, std::string *text);

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

}  // namespace korvo::host
