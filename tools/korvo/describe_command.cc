// korvo describe DIR [NAME...]: writes the segment description files of a
// distribution directory, so that a directory of data files can be read
// with `korvo receive --dir DIR` (or searched as a remote directory or a CD)
// without writing a program. For each data file NAME of DIR it writes
// "NAME.toc" (bare layout; "NAME.itc", marked, with --marked) holding the key
// "segment" with the segment's "id" (NAME, or --id), "version" (--version,
// default "1") and "location" (NAME).
//
// Only regular files directly in DIR are described (symbolic links and
// other kinds are refused or, when DIR is listed, skipped), and nothing is
// written outside DIR. An existing description file is replaced only with
// --force.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "command_registry.hpp"
#include "failure.hpp"
#include "host_files.hpp"
#include "output.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "property_file.hpp"
#include "property_view.hpp"

namespace korvo::cli {
namespace {

struct DescribeOptions {
    std::string dir;
    std::vector<std::string> names;
    std::string id;
    std::string version = "1";
    bool marked = false;
    bool force = false;
    bool json = false;
};

bool ends_with_ci(const std::string &name, const char *suffix) {
    size_t n = std::strlen(suffix);
    if (name.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != suffix[i])
            return false;
    return true;
}

bool is_description_name(const std::string &name) {
    return ends_with_ci(name, ".toc") || ends_with_ci(name, ".itc");
}

// The data files of DIR: every regular file that is no description file
// and no hidden file, by name.
std::vector<std::string> data_files(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &item : std::filesystem::directory_iterator(dir, error)) {
        std::string name = item.path().filename().string();
        if (name[0] != '.' && !is_description_name(name) && item.is_regular_file(error) &&
            !item.is_symlink(error))
            names.push_back(name);
    }
    if (error)
        throw Failure(kExitFailed, "cannot list " + quote_path(dir) + ": " + error.message());
    std::sort(names.begin(), names.end());
    return names;
}

void check_data_file(const std::string &dir, const std::string &name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw Failure(kExitUsage, "name the data file by its name in " + quote_path(dir) +
                                      ", not " + quote_text(name) +
                                      " (a description names a file beside it)");
    if (is_description_name(name))
        throw Failure(kExitUsage, quote_text(name) + " is a description file, not a data file");
    std::string path = dir + "/" + name;
    struct stat status {};
    if (host::lstat_path(path, status) != 0)
        throw Failure(errno == ENOENT ? kExitNotFound : kExitFailed,
                      "cannot use the data file " + quote_path(path) + ": " + std::strerror(errno));
    if (host::is_link(status) || !S_ISREG(status.st_mode))
        throw Failure(kExitFailed, "the data file " + quote_path(path) +
                                       " is not a regular file (links are not followed)");
}

int run_describe(const DescribeOptions &options) {
    std::string dir = options.dir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    struct stat status {};
    if (stat(dir.c_str(), &status) != 0)
        throw Failure(errno == ENOENT ? kExitNotFound : kExitFailed,
                      "cannot use the directory " + dir + ": " + std::strerror(errno));
    if (!S_ISDIR(status.st_mode))
        throw Failure(kExitFailed, dir + " is not a directory");
    std::vector<std::string> names = options.names.empty() ? data_files(dir) : options.names;
    if (names.empty())
        throw Failure(kExitNotFound, "the directory " + quote_path(dir) + " holds no data files");
    if (!options.id.empty() && names.size() != 1)
        throw Failure(kExitUsage, "--id names one segment: name one data file with it");
    for (const std::string &name : names)
        check_data_file(dir, name);

    const char *suffix = options.marked ? ".itc" : ".toc";
    // Check every target before writing the first, so that a refusal
    // leaves the directory as it was.
    for (const std::string &name : names) {
        std::string path = dir + "/" + name + suffix;
        struct stat existing {};
        if (host::lstat_path(path, existing) == 0 && !options.force)
            throw Failure(kExitFailed, quote_path(path) + " exists; --force replaces it");
    }
    Json written = Json::array();
    for (const std::string &name : names) {
        std::string path = dir + "/" + name + suffix;
        std::string id = options.id.empty() ? name : options.id;
        PropertyList segment, description;
        library_call([&] {
            properties_put_string_dup(segment.get(), SEGMENT_ID_KEY, id.c_str());
            properties_put_string_dup(segment.get(), SEGMENT_VERSION_KEY, options.version.c_str());
            properties_put_string_dup(segment.get(), SEGMENT_LOCATION_KEY, name.c_str());
            properties_put_properties_dup(description.get(), "segment", segment.get());
        });
        save_in_layout(path, *description.get(), options.marked ? Layout::kMarked : Layout::kBare);
        written.push_back(
            {{"file", path}, {"id", id}, {"version", options.version}, {"location", name}});
    }
    if (options.json) {
        print_json({{"directory", dir}, {"descriptions", written}});
        return kExitOk;
    }
    std::cout << "Described " << names.size() << (names.size() == 1 ? " segment" : " segments")
              << " in " << printable(dir) << ":";
    for (const Json &item : written)
        std::cout
            << ' '
            << printable(
                   std::filesystem::path(item["file"].get<std::string>()).filename().string());
    std::cout << "\n";
    return kExitOk;
}

void attach_describe(CLI::App &root, Action &chosen) {
    CLI::App *sub = root.add_subcommand(
        "describe", "Write the segment description files of a distribution directory");
    auto options = std::make_shared<DescribeOptions>();
    sub->add_option("dir", options->dir, "The directory of the data files")->required();
    sub->add_option("names", options->names,
                    "The data files to describe, by name (default: every file of DIR)")
        ->type_name("NAME...");
    sub->add_option("--id", options->id, "The segment's id (one data file; default: its name)");
    sub->add_option("--version", options->version, "The segments' version (default: 1)");
    sub->add_flag("--marked", options->marked,
                  "Write NAME.itc in the marked layout instead of NAME.toc (bare)");
    sub->add_flag("--force", options->force, "Replace description files that exist");
    sub->add_flag("--json", options->json, "Print JSON");
    sub->footer(
        "\nEach description file holds the key \"segment\": the segment's id, version and\n"
        "location (the data file's name), as receive --dir, remote directories and CD\n"
        "drives read them.\n" +
        examples({"korvo describe release-1", "korvo describe release-1 kernel.img --version 2.0",
                  "korvo describe release-1 && korvo receive rel-1 --dir release-1 -o out"}));
    choose(sub, chosen, [options] { return run_describe(*options); });
}

const CommandRegistration describe_registration{45, attach_describe};

}  // namespace
}  // namespace korvo::cli
