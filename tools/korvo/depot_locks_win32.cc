#include <windows.h>

#include <filesystem>
#include <string>

#include "depot_access.hpp"

namespace korvo::cli {

std::string foreign_lock_advice() {
    return "";
}

WriterLocks::WriterLocks() = default;

bool WriterLocks::held(const std::string &data_file) const {
    // The writer locks the whole data file; a one-byte lock of its first
    // byte, taken without waiting and given back at once, meets it.
    // The library's paths are UTF-8.
    const std::filesystem::path path(std::u8string(data_file.begin(), data_file.end()));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED place{};
    bool held = false;
    if (LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place))
        UnlockFileEx(file, 0, 1, 0, &place);
    else
        held = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return held;
}

}  // namespace korvo::cli
