// korvo props show|set|convert: property files in any of the three layouts,
// through the library's own loads and saves (which replace a file in one
// step, so a reader never sees half of one).
#include <sys/stat.h>

#include <cerrno>
#include <iostream>

#include "command_registry.hpp"
#include "failure.hpp"
#include "output.hpp"
#include "properties/korvo_properties.h"
#include "property_file.hpp"
#include "property_view.hpp"

namespace korvo::cli {
namespace {

struct ShowOptions {
    std::string file;
    bool json = false;
};

struct SetOptions {
    std::string file;
    std::string key;
    std::string value;
    std::string type = "string";
    std::string layout = "plain";
    bool remove = false;
    CLI::Option *value_given = nullptr;
};

struct ConvertOptions {
    std::string file;
    std::string to;
    std::string output;
};

bool exists(const std::string &path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 || errno != ENOENT;
}

int run_show(const ShowOptions &options) {
    PropertyList list;
    Layout layout = load_any_layout(options.file, *list.get());
    if (options.json) {
        print_json({{"file", options.file},
                    {"layout", layout_name(layout)},
                    {"properties", properties_json(*list.get())}});
        return kExitOk;
    }
    uint32_t count = list.get()->length;
    std::cout << printable(options.file) << ": " << layout_name(layout) << " layout, " << count
              << (count == 1 ? " property\n" : " properties\n");
    print_properties(*list.get(), 2);
    return kExitOk;
}

int run_set(const SetOptions &options) {
    if (options.remove == (options.value_given->count() > 0))
        throw Failure(kExitUsage, "give either the value to set or --remove");
    ValueType type = value_type_named(options.type);
    PropertyList list;
    Layout layout = layout_named(options.layout);
    bool existed = exists(options.file);
    if (existed)
        layout = load_any_layout(options.file, *list.get());
    if (options.remove) {
        if (properties_remove_and_destroy(list.get(), options.key.c_str()) != 0)
            throw Failure(kExitNotFound,
                          printable(options.file) + " has no key " + quote_text(options.key));
    } else {
        put_value(*list.get(), options.key, type, options.value);
    }
    save_in_layout(options.file, *list.get(), layout);
    std::cout << (options.remove ? "Removed " : "Set ") << quote_text(options.key) << " in "
              << printable(options.file) << " (" << layout_name(layout) << " layout"
              << (existed ? ")\n" : ", a new file)\n");
    return kExitOk;
}

int run_convert(const ConvertOptions &options) {
    Layout to = layout_named(options.to);
    PropertyList list;
    Layout from = load_any_layout(options.file, *list.get());
    std::string target = options.output.empty() ? options.file : options.output;
    save_in_layout(target, *list.get(), to);
    std::cout << "Wrote " << printable(target) << " in the " << layout_name(to) << " layout (read "
              << printable(options.file) << " in the " << layout_name(from) << " layout)\n";
    return kExitOk;
}

void attach_props(CLI::App &root, Action &chosen) {
    CLI::App *props = root.add_subcommand("props", "Show, change and convert property files")
                          ->require_subcommand(1);
    props->footer(
        "\nLayouts: plain (a 4-byte little-endian length, then the encoded list),\n"
        "marked (a big-endian marker 1 and length), bare (the encoded list alone,\n"
        "as in progress records).\n" +
        examples({"korvo props show segment.plist",
                  "korvo props set segment.plist size 1024 -t long",
                  "korvo props convert segment.plist --to marked -o segment.itc"}));

    CLI::App *show = props->add_subcommand("show", "Print a property file's typed values");
    auto show_options = std::make_shared<ShowOptions>();
    show->add_option("file", show_options->file, "The property file")->required();
    show->add_flag("--json", show_options->json, "Print JSON");
    show->footer(examples({"korvo props show segment.plist",
                           "korvo props show $KORVO_WORK_DIR/mstat/42.mds --json"}));
    choose(show, chosen, [show_options] { return run_show(*show_options); });

    CLI::App *set = props->add_subcommand("set", "Put one key (or remove it) and save the file");
    auto set_options = std::make_shared<SetOptions>();
    set->add_option("file", set_options->file, "The property file (created when missing)")
        ->required();
    set->add_option("key", set_options->key, "The key")->required();
    set_options->value_given = set->add_option("value", set_options->value, "The value");
    set->add_option("-t,--type", set_options->type,
                    "The value's type: string, long, short, ulong, boolean or octets (hex)")
        ->capture_default_str();
    set->add_option(
           "--layout", set_options->layout,
           "The layout of a new file: plain, marked or bare (an existing file keeps its own)")
        ->capture_default_str();
    set->add_flag("--remove", set_options->remove, "Remove the key instead");
    set->footer(examples({"korvo props set segment.plist id seg-1",
                          "korvo props set segment.plist size 1048576 --type long",
                          "korvo props set segment.plist checksum de:ad:be:ef --type octets",
                          "korvo props set new.toc id seg-2 --layout bare",
                          "korvo props set segment.plist checksum --remove"}));
    choose(set, chosen, [set_options] { return run_set(*set_options); });

    CLI::App *convert =
        props->add_subcommand("convert", "Rewrite a property file in another layout");
    auto convert_options = std::make_shared<ConvertOptions>();
    convert->add_option("file", convert_options->file, "The property file")->required();
    convert->add_option("--to", convert_options->to, "The new layout: plain, marked or bare")
        ->required();
    convert->add_option("-o,--output", convert_options->output,
                        "Write this file instead of replacing the one read");
    convert->footer(examples({"korvo props convert segment.plist --to bare",
                              "korvo props convert old.plist --to marked -o new.itc"}));
    choose(convert, chosen, [convert_options] { return run_convert(*convert_options); });
}

const CommandRegistration props_registration{20, attach_props};

}  // namespace
}  // namespace korvo::cli
