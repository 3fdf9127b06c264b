// The client's home on Windows: the value in the system registry.
#include "cds/cds_client_home.hpp"
#include "cds/cds_registry.hpp"
#include "kes/host_registry.hpp"

namespace korvo::cds {

const char *const kClientConfigName = "\\cds.cfg";

std::optional<std::string> registered_client_home() {
    return host::MachineRegistryString(kClientSubkey, kClientHomeValue.data(), kRegistryValueMax);
}

}  // namespace korvo::cds
