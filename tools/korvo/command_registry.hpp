// The subcommands of the korvo command. Each subcommand lives in a file of
// its own and registers itself with a static CommandRegistration:
//
//   void attach_catalog(CLI::App &root, Action &chosen) {
//       CLI::App *sub = root.add_subcommand("catalog", "...");
//       auto options = std::make_shared<CatalogOptions>();
//       ... options and examples ...
//       choose(sub, chosen, [options] { return run_catalog(*options); });
//   }
//   const CommandRegistration catalog_registration{40, attach_catalog};
//
// main() attaches every registered command in `order` (which is the order of
// the help text), parses the command line, and runs the Action the parsed
// subcommand chose. Adding a subcommand is one new file.
//
// Threads: registration happens during static initialisation; everything
// else runs on the main thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace korvo::cli {

// What the chosen subcommand runs; its result is the exit code.
using Action = std::function<int()>;
using Attach = void (*)(CLI::App &root, Action &chosen);

struct CommandRegistration {
    CommandRegistration(int order, Attach attach);
};

struct RegisteredCommand {
    int order;
    Attach attach;
};

// Options of the korvo command itself, set before a subcommand runs.
struct GlobalOptions {
    bool quiet = false;  // no progress display
    int verbose = 0;     // library log lines: 0 failures only, 1 notices, 2 trace
};
GlobalOptions &global_options();

// Every registered command, in order.
std::vector<RegisteredCommand> registered_commands();

// Makes `run` the action when `sub` is the subcommand the user named.
void choose(CLI::App *sub, Action &chosen, Action run);

// The text after the options in a subcommand's help: "Examples:" and one
// example per line, indented.
std::string examples(std::initializer_list<const char *> lines);

}  // namespace korvo::cli
