// The client's home on POSIX: the registry file that stands in for the
// system registry (KORVO_REGISTRY_FILE, else /etc/korvo/registry.ini).
#include "cds/cds_client_home.hpp"
#include "cds/cds_registry.hpp"
#include "kes/host_env.hpp"

namespace korvo::cds {

const char *const kClientConfigName = "/cds.cfg";

std::optional<std::string> registered_client_home() {
    const std::optional<std::string> named = host::GetEnvironment(kRegistryFileVariable);
    const std::string path = named && !named->empty() ? *named : kDefaultRegistryFile;
    const std::optional<std::string> registry = read_text_file(path, kMaxConfigBytes);
    std::optional<std::string> home =
        registry ? registry_value(*registry, kClientKey, kClientHomeValue) : std::nullopt;
    if (home && home->size() > kRegistryValueMax)
        return std::nullopt;
    return home;
}

}  // namespace korvo::cds
