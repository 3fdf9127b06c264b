#include "command_registry.hpp"

#include <algorithm>
#include <utility>

namespace korvo::cli {
namespace {

std::vector<RegisteredCommand> &registry() {
    static std::vector<RegisteredCommand> commands;
    return commands;
}

}  // namespace

GlobalOptions &global_options() {
    static GlobalOptions options;
    return options;
}

CommandRegistration::CommandRegistration(int order, Attach attach) {
    registry().push_back({order, attach});
}

std::vector<RegisteredCommand> registered_commands() {
    std::vector<RegisteredCommand> commands = registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const auto &a, const auto &b) { return a.order < b.order; });
    return commands;
}

void choose(CLI::App *sub, Action &chosen, Action run) {
    sub->callback([&chosen, run = std::move(run)] { chosen = run; });
}

std::string examples(std::initializer_list<const char *> lines) {
    std::string text = "\nExamples:\n";
    for (const char *line : lines) {
        text += "  ";
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace korvo::cli
