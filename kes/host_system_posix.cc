// System facts on a POSIX host, from sysconf.
#include <unistd.h>

#include "kes/host_system.hpp"

namespace korvo::host {

std::size_t PageSize() noexcept {
    static const std::size_t size = [] {
        const long value = ::sysconf(_SC_PAGESIZE);
        return value > 0 ? static_cast<std::size_t>(value) : std::size_t{4096};
    }();
    return size;
}

}  // namespace korvo::host
