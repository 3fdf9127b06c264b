// Finding the client's directory from the client's home, as the registry
// names it, and the client's configuration file.

#include <new>
#include <optional>
#include <string>

#include "cds/cds_client_home.hpp"
#include "cds/cds_config.hpp"
#include "cds/cds_internal.hpp"
#include "runtime/log.h"
#include "runtime/mg_memory.h"

extern "C" char *cds_get_lib_dir(void) {
    using namespace korvo::cds;
    try {
        const std::optional<std::string> home = registered_client_home();
        if (!home) {
            LogQ("korvo: cds_get_lib_dir: Could not determine the CDS configuration file.");
            return nullptr;
        }
        std::string config = *home + kClientConfigName;
        if (config.size() > kConfigPathMax)
            config.resize(kConfigPathMax);
        const std::optional<std::string> text = read_text_file(config, kMaxConfigBytes);
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
