// POSIX has no system registry: every value is missing.
#include "kes/host_registry.hpp"

namespace korvo::host {

std::optional<std::string> MachineRegistryString(const char *, const char *, std::size_t) {
    return std::nullopt;
}

}  // namespace korvo::host
