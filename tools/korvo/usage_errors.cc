#include "usage_errors.hpp"

#include <algorithm>

#include "output.hpp"

namespace korvo::cli {
namespace {

// Edits from one name to the other: a letter added, dropped, changed, or
// two neighbours swapped ("lsit" is one edit from "list").
size_t edit_distance(const std::string &a, const std::string &b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// "korvo depot list": the names from the root down to `app`.
std::string command_path(const CLI::App *app) {
    std::string path;
    for (; app != nullptr; app = app->get_parent())
        path = path.empty() ? app->get_name() : app->get_name() + " " + path;
    return path;
}

// The last subcommand the parser entered.
const CLI::App *deepest_parsed(const CLI::App &root) {
    const CLI::App *app = &root;
    for (;;) {
        std::vector<const CLI::App *> parsed;
        for (const CLI::App *sub :
             app->get_subcommands([](const CLI::App *sub) { return sub->parsed(); }))
            parsed.push_back(sub);
        if (parsed.empty())
            return app;
        app = parsed.front();
    }
}

std::vector<std::string> subcommand_names(const CLI::App *app) {
    std::vector<std::string> names;
    for (const CLI::App *sub : app->get_subcommands([](const CLI::App *) { return true; }))
        names.push_back(sub->get_name());
    return names;
}

// The options a user may give at `app`: its own and those of the commands
// above it that it passes unknown options to.
std::vector<std::string> option_names(const CLI::App *app) {
    std::vector<std::string> names;
    for (const CLI::App *at = app; at != nullptr; at = at->get_parent()) {
        for (const CLI::Option *option : at->get_options()) {
            for (const std::string &name : option->get_lnames())
                names.push_back("--" + name);
            for (const std::string &name : option->get_snames())
                names.push_back("-" + name);
        }
        if (!at->get_fallthrough())
            break;
    }
    return names;
}

std::string joined(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string suggestion(const std::string &typed, const std::vector<std::string> &names) {
    std::optional<std::string> close = closest_name(typed, names);
    return close ? "; did you mean '" + *close + "'?" : "";
}

}  // namespace

std::optional<std::string> closest_name(const std::string &typed,
                                        const std::vector<std::string> &names) {
    std::optional<std::string> best;
    // One slip in a short name, two in a longer one.
    size_t best_distance = (typed.size() <= 4 ? 1 : 2) + 1;
    std::vector<std::string> starting;
    for (const std::string &name : names) {
        size_t distance = edit_distance(typed, name);
        if (distance < best_distance) {
            best_distance = distance;
            best = name;
        }
        if (typed.size() >= 2 && name.compare(0, typed.size(), typed) == 0)
            starting.push_back(name);
    }
    if (!best && starting.size() == 1)
        best = starting.front();
    return best;
}

std::string describe_usage_error(const CLI::App &root, const CLI::ParseError &error) {
    // The command the unexpected words were given to: the deepest one the
    // parser entered that kept some (an option before the subcommand stays
    // with the command it follows).
    const CLI::App *deepest = deepest_parsed(root);
    const CLI::App *leaf = deepest;
    std::vector<std::string> unexpected;
    for (const CLI::App *at = deepest; at != nullptr && unexpected.empty(); at = at->get_parent()) {
        unexpected = at->remaining(false);
        if (!unexpected.empty())
            leaf = at;
    }
    // What a chosen subcommand passed up to its parent (fallthrough) was
    // given to that subcommand.
    if (leaf != deepest && leaf->get_subcommands().front()->get_fallthrough())
        leaf = deepest;
    std::string where = command_path(leaf);
    std::string help = "Run '" + where + " --help' for ";
    std::vector<std::string> subcommands = subcommand_names(leaf);
    std::string said;
    if (!unexpected.empty() && unexpected.front().size() > 1 && unexpected.front()[0] == '-') {
        std::string typed = unexpected.front().substr(0, unexpected.front().find('='));
        said = where + ": unknown option '" + printable(typed) + "'" +
               suggestion(typed, option_names(leaf));
        help += "its options.";
    } else if (!unexpected.empty() && !subcommands.empty()) {
        const std::string &typed = unexpected.front();
        std::string close = suggestion(typed, subcommands);
        said = where + ": unknown subcommand '" + printable(typed) + "'" +
               (close.empty() ? " (it has " + joined(subcommands) + ")" : close);
        help += "the subcommands and options.";
    } else if (!unexpected.empty()) {
        said = where + ": unexpected argument '" + printable(unexpected.front()) + "'";
        help += "its arguments.";
    } else if (!subcommands.empty() && leaf->get_require_subcommand_min() > 0 &&
               error.get_name() == "RequiredError") {
        said = where + ": name a subcommand: " + joined(subcommands);
        help += "what each does.";
    } else {
        std::string text = error.what();
        said = where + ": " + text;
        help += "its options and arguments.";
    }
    return said + "\n" + help + "\n";
}

}  // namespace korvo::cli
