// System facts on a POSIX host, from sysconf and uname.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kes/host_system.hpp"

namespace korvo::host {

std::size_t PageSize() noexcept {
    static const std::size_t size = [] {
        const long value = ::sysconf(_SC_PAGESIZE);
        return value > 0 ? static_cast<std::size_t>(value) : std::size_t{4096};
    }();
    return size;
}

bool SystemFactText(SystemFact fact, char *buffer, std::size_t size) noexcept {
    struct utsname names {};
    if (size == 0 || ::uname(&names) != 0)
        return false;
    const char *text = fact == SystemFact::kName           ? names.sysname
                       : fact == SystemFact::kArchitecture ? names.machine
                                                           : names.release;
    std::strncpy(buffer, text, size - 1);
    buffer[size - 1] = '\0';
    return true;
}

[[noreturn]] void EndProcessNow(int status) noexcept {
    std::_Exit(status);
}

}  // namespace korvo::host
