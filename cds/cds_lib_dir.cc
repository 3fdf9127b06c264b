// Finding the client's directory from the registry file and the client's
// configuration file.

#include <cstdlib>
#include <optional>
#include <string>

#include "cds/cds_config.hpp"
#include "cds/cds_internal.hpp"
#include "cds/cds_registry.hpp"
#include "kes/host_env.hpp"
#include "kes/host_file.hpp"
#include "kes/kes_fd.hpp"
#include "runtime/log.h"
#include "runtime/mg_memory.h"

namespace korvo::cds {

namespace {

// More than this is not a configuration file; only this much is read.
constexpr size_t kMaxFileBytes = 1024 * 1024;

// Longest registry value, as the registry's value buffer held it.
constexpr size_t kRegistryValueMax = 259;

// The first kMaxFileBytes of the regular file `path`; nullopt when it cannot
// be opened or is not a regular file. A FIFO or a device in its place is
// refused without blocking.
std::optional<std::string> read_configuration(const std::string &path) {
    const kes::UniqueFd file(host::OpenFile(
        path.c_str(), host::kOpenRead | host::kOpenNonBlock | host::kOpenNoTerminal));
    host::FileInfo record{};
    if (!file || !host::StatFile(file.get(), &record) || record.kind != host::FileKind::kRegular)
        return std::nullopt;
    std::string text;
    char piece[8192];
    while (text.size() < kMaxFileBytes) {
        const int64_t got = host::ReadFile(file.get(), piece, sizeof piece);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        text.append(piece, static_cast<size_t>(got));
    }
    if (text.size() > kMaxFileBytes)
        text.resize(kMaxFileBytes);
    return text;
}

std::string registry_file() {
    const std::optional<std::string> path = host::GetEnvironment(kRegistryFileVariable);
    return path && !path->empty() ? *path : kDefaultRegistryFile;
}

}  // namespace

}  // namespace korvo::cds

extern "C" char *cds_get_lib_dir(void) {
    using namespace korvo::cds;
    try {
        const std::optional<std::string> registry = read_configuration(registry_file());
        const std::optional<std::string> home =
            registry ? registry_value(*registry, kClientKey, kClientHomeValue) : std::nullopt;
        if (!home || home->size() > kRegistryValueMax) {
            LogQ("korvo: cds_get_lib_dir: Could not determine the CDS configuration file.");
            return nullptr;
        }
        std::string config = *home + kConfigFileSuffix;
        if (config.size() > kConfigPathMax)
            config.resize(kConfigPathMax);
        const std::optional<std::string> text = read_configuration(config);
        if (!text) {
            LogQ("korvo: cds_get_lib_dir: Could not open %s for read.", config.c_str());
            return nullptr;
        }
        const ClassPathScan scan = scan_class_path(*text);
        if (scan.long_lines != 0)
            LogQ("korvo: cds_get_lib_dir: Skipped %zu lines longer than %zu characters in %s.",
                 scan.long_lines, kConfigLineMax, config.c_str());
        if (!scan.directory)
            return nullptr;
        return mg_strdup(scan.directory->c_str());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
