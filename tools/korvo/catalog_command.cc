// korvo catalog [N]: the messages of the library's catalog, by number. One
// message is printed as the catalog holds it (placeholders such as %1$s
// included); the list shows each on one line, line feeds as \n.
#include <cstdio>
#include <iostream>
#include <optional>

#include "command_registry.hpp"
#include "failure.hpp"
#include "output.hpp"
#include "properties/errors/korvo_catalog.h"

namespace korvo::cli {
namespace {

struct CatalogOptions {
    std::optional<int> number;
    bool json = false;
};

int run_catalog(const CatalogOptions &options) {
    if (options.number) {
        int n = *options.number;
        if (n < 1 || n > KORVO_CATALOG_MESSAGES)
            throw Failure(kExitNotFound, "there is no message " + std::to_string(n) +
                                             ": the catalog holds messages 1 to " +
                                             std::to_string(KORVO_CATALOG_MESSAGES));
        std::string text = Korvo2Catalog[n];
        if (options.json) {
            print_json({{"catalog", Korvo2Catalog[0]}, {"number", n}, {"text", text}});
        } else {
            std::cout << text;
            if (text.empty() || text.back() != '\n')
                std::cout << '\n';
        }
        return kExitOk;
    }
    if (options.json) {
        Json messages = Json::array();
        for (int n = 1; n <= KORVO_CATALOG_MESSAGES; ++n)
            messages.push_back({{"number", n}, {"text", Korvo2Catalog[n]}});
        print_json({{"catalog", Korvo2Catalog[0]}, {"messages", messages}});
        return kExitOk;
    }
    for (int n = 1; n <= KORVO_CATALOG_MESSAGES; ++n) {
        std::string text = Korvo2Catalog[n];
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        char number[8];
        std::snprintf(number, sizeof number, "%3d  ", n);
        std::cout << number << printable(text) << '\n';
    }
    return kExitOk;
}

void attach_catalog(CLI::App &root, Action &chosen) {
    CLI::App *catalog = root.add_subcommand("catalog", "Print the library's catalog messages");
    auto options = std::make_shared<CatalogOptions>();
    catalog->add_option("number", options->number,
                        "The message number (1 to 211); all when omitted");
    catalog->add_flag("--json", options->json, "Print JSON");
    catalog->footer(examples({"korvo catalog", "korvo catalog 36", "korvo catalog 182 --json",
                              "korvo catalog | grep -i depot"}));
    choose(catalog, chosen, [options] { return run_catalog(*options); });
}

const CommandRegistration catalog_registration{40, attach_catalog};

}  // namespace
}  // namespace korvo::cli
