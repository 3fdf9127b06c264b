// korvo depot list|show|usage|verify|purge: the subcommands share the
// depot directory option of "korvo depot" (-d/--depot, default the
// configured depot), which may also follow the subcommand's name.
#pragma once

#include <memory>
#include <string>

#include "command_registry.hpp"

namespace korvo::cli {

struct DepotOptions {
    std::string dir;  // empty: the configured depot
};

void attach_depot_verify(CLI::App &depot, std::shared_ptr<DepotOptions> shared, Action &chosen);
void attach_depot_purge(CLI::App &depot, std::shared_ptr<DepotOptions> shared, Action &chosen);

}  // namespace korvo::cli
