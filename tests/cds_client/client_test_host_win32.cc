// The client tests' host steps on Windows: a download's lock is held by an
// open handle that shares nothing but deletion.
#include <windows.h>

#include "tests/cds_client/client_test_host.hpp"

namespace cds_test {

HeldLock::HeldLock(const std::string &path) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        handle_ = reinterpret_cast<std::intptr_t>(handle);
        held_ = true;
    }
}

HeldLock::~HeldLock() {
    if (held_)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool make_fifo(const std::string &) {
    return false;
}

}  // namespace cds_test
