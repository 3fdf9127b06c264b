// The one owner of a Windows HANDLE in the runtime and the programs that
// compile its host files in: closes the handle when it goes. Handles that
// are "none" (nullptr or INVALID_HANDLE_VALUE) are not closed. Windows
// only; one thread at a time per object.
#pragma once

#include <windows.h>

#include <utility>

namespace korvo::rt::win32 {

class OwnedHandle {
  public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle &&other) noexcept : handle_(other.release()) {}
    OwnedHandle &operator=(OwnedHandle &&other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) {
        if (*this)
            ::CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

}  // namespace korvo::rt::win32
