// What the korvo command says about a wrong command line: the parser's
// findings in the command's own words, each naming the subcommand it is
// about and what was wrong, with a suggestion when the user probably
// mistyped a name:
//
//   korvo depot: unknown subcommand 'lsit'; did you mean 'list'?
//   Run 'korvo depot --help' for the subcommands and options.
//
// Threads: main thread.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace korvo::cli {

// The message for a parse error of `root` (which was given the command
// line), ending in a line feed.
std::string describe_usage_error(const CLI::App &root, const CLI::ParseError &error);

// The name of `names` closest to `typed`, when one is close enough to be a
// likely slip (a few letters off, or `typed` is the start of only one name).
std::optional<std::string> closest_name(const std::string &typed,
                                        const std::vector<std::string> &names);

}  // namespace korvo::cli
