// korvo depot list, show and usage; the parent of verify and purge.

#include <algorithm>
#include <ctime>
#include <iostream>

#include "depot_access.hpp"
#include "depot_commands.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "host_files.hpp"
#include "output.hpp"
#include "property_view.hpp"
#include "units.hpp"

namespace korvo::cli {
namespace {

struct ListOptions {
    bool json = false;
};

struct ShowOptions {
    std::string id;
    std::string version;
    bool json = false;
};

struct UsageOptions {
    uint32_t limit_kb = 0;
    bool json = false;
};

std::string size_text(const EntryInfo &entry) {
    return entry.data_size ? format_bytes(*entry.data_size) : "missing";
}

std::string deadline_text(const EntryInfo &entry, std::time_t now) {
    std::string text = format_local_time(static_cast<std::time_t>(entry.deadline));
    return is_expired(entry, now) ? text + " (expired)" : text;
}

int run_list(const DepotOptions &shared, const ListOptions &options) {
    DepotHandle depot(depot_dir_or_configured(shared.dir));
    std::vector<EntryInfo> entries;
    read_entries(depot, [&](const EntryInfo &entry) {
        entries.push_back(entry);
        return true;
    });
    std::sort(entries.begin(), entries.end(), [](const EntryInfo &a, const EntryInfo &b) {
        return std::tie(a.id, a.version, a.entry_file) < std::tie(b.id, b.version, b.entry_file);
    });
    std::time_t now = std::time(nullptr);
    if (options.json) {
        Json list = Json::array();
        for (const EntryInfo &entry : entries)
            list.push_back(entry_json(entry, now));
        print_json({{"depot", depot.dir()}, {"entries", list}});
        return kExitOk;
    }
    if (entries.empty()) {
        std::cout << "The depot " << depot.dir() << " holds no entries.\n";
        return kExitOk;
    }
    Table table({"ID", "VERSION", "STATE", "REFS", "DEADLINE", "SIZE", "DATA FILE"});
    table.align_right(3);
    table.align_right(5);
    for (const EntryInfo &entry : entries)
        table.add({entry.id, entry.version, state_name(entry.state),
                   std::to_string(entry.reference_count), deadline_text(entry, now),
                   size_text(entry), entry.location});
    table.print();
    return kExitOk;
}

int run_show(const DepotOptions &shared, const ShowOptions &options) {
    DepotHandle depot(depot_dir_or_configured(shared.dir));
    std::optional<EntryInfo> found = find_entry(depot, options.id, options.version);
    if (!found)
        throw Failure(kExitNotFound, "the segment " + quote_text(options.id) + " version " +
                                         quote_text(options.version) + " is not in the depot " +
                                         depot.dir());
    const EntryInfo &entry = *found;
    std::time_t now = std::time(nullptr);
    if (options.json) {
        print_json(entry_json(entry, now));
        return kExitOk;
    }
    std::cout << "Segment          " << printable(entry.id) << " " << printable(entry.version)
              << "\nState            " << state_name(entry.state) << " (" << entry.state << ")"
              << "\nReference count  " << entry.reference_count << "\nDeadline         "
              << deadline_text(entry, now) << "\nChecksum         " << entry.checksum
              << "\nData file        " << printable(entry.location) << " ("
              << (entry.data_size ? std::to_string(*entry.data_size) + " bytes" : "missing") << ")"
              << "\nEntry file       " << printable(entry.entry_file) << "\nProperties       ";
    PropertyList list;
    if (entry.properties.empty()) {
        std::cout << "none\n";
    } else if (!entry_properties(entry, list)) {
        std::cout << entry.properties.size() << " bytes (not a property list)\n";
    } else {
        std::cout << entry.properties.size() << " bytes, a list of " << list.get()->length << ":\n";
        print_properties(*list.get(), 2);
    }
    return kExitOk;
}

int run_usage(const DepotOptions &shared, const UsageOptions &options) {
    DepotHandle depot(depot_dir_or_configured(shared.dir), options.limit_kb);
    uint64_t count = 0, by_state[4] = {0, 0, 0, 0}, data_bytes = 0, reserved_kb = 0;
    read_entries(depot, [&](const EntryInfo &entry) {
        ++count;
        ++by_state[entry.state >= 0 && entry.state <= 2 ? entry.state : 3];
        uint64_t size = entry.data_size.value_or(0);
        data_bytes += size;
        // A pending entry is still being written: what its segment records
        // beyond what is there yet is space its writer has yet to fill.
        if (entry.state == DepotStatePending)
            if (std::optional<uint64_t> expected = recorded_size(entry);
                expected && *expected > size)
                reserved_kb += ConvertDataSize(*expected - size);
        return true;
    });
    KesStatus status;
    uint32_t permanent_kb = 0;
    DepotGetPermStorage(&status, depot.get(), &permanent_kb);
    // The library's total stops at the first data file it cannot measure.
    bool partial = status.code != 0;
    if (partial)
        std::cerr << "korvo: the permanent storage counts only the data files before one that "
                     "could not be measured; 'korvo depot verify' names it\n";
    uint64_t free_bytes = 0, total_bytes = 0;
    bool have_fs = host::volume_space(depot.dir(), free_bytes, total_bytes);
    if (!have_fs)
        free_bytes = total_bytes = 0;
    uint64_t used_kb = permanent_kb + reserved_kb;
    uint64_t available_kb = options.limit_kb > used_kb ? options.limit_kb - used_kb : 0;

    if (options.json) {
        Json json = {
            {"depot", depot.dir()},
            {"entries",
             {{"total", count},
              {"pending", by_state[0]},
              {"complete", by_state[1]},
              {"in_use", by_state[2]},
              {"other", by_state[3]}}},
            {"data_bytes", data_bytes},
            {"permanent_storage_kb", permanent_kb},
            {"permanent_storage_complete", !partial},
            {"reserved_kb", reserved_kb},
            {"limit_kb", options.limit_kb ? Json(options.limit_kb) : Json(nullptr)},
            {"available_kb", options.limit_kb ? Json(available_kb) : Json(nullptr)},
            {"filesystem", have_fs ? Json{{"free_bytes", free_bytes}, {"total_bytes", total_bytes}}
                                   : Json(nullptr)}};
        print_json(json);
        return kExitOk;
    }
    std::cout << "Depot              " << printable(depot.dir()) << "\n"
              << "Entries            " << count << ": " << by_state[1] << " complete, "
              << by_state[2] << " in use, " << by_state[0] << " pending";
    if (by_state[3])
        std::cout << ", " << by_state[3] << " in other states";
    std::cout << "\nData               " << format_bytes(data_bytes) << "\n"
              << "Permanent storage  " << permanent_kb
              << (partial ? " KB (at least; a data file could not be measured)\n"
                          : " KB (the data files in the depot)\n")
              << "Reserved           " << reserved_kb
              << " KB (what pending entries have yet to write)\n"
              << "Limit              ";
    if (options.limit_kb)
        std::cout << options.limit_kb << " KB, " << available_kb << " KB available\n";
    else
        std::cout << "none (--limit KB compares the depot with one)\n";
    if (have_fs)
        std::cout << "File system        " << format_bytes(free_bytes) << " free of "
                  << format_bytes(total_bytes) << "\n";
    return kExitOk;
}

void attach_depot(CLI::App &root, Action &chosen) {
    CLI::App *depot = root.add_subcommand("depot", "Look into a depot, check it, purge it")
                          ->require_subcommand(1);
    auto shared = std::make_shared<DepotOptions>();
    depot
        ->add_option("-d,--depot", shared->dir,
                     "The depot directory (default: depot_dir of the endpoint configuration)")
        ->type_name("DIR");
    depot->footer(examples({"korvo depot list --depot /var/spool/korvo/depot",
                            "korvo depot show seg-1 1.0", "korvo depot verify --json"}));

    CLI::App *list = depot->add_subcommand("list", "List the depot's entries")->fallthrough();
    auto list_options = std::make_shared<ListOptions>();
    list->add_flag("--json", list_options->json, "Print JSON");
    list->footer(examples(
        {"korvo depot list", "korvo depot list --depot ./depot --json | jq '.entries[].id'"}));
    choose(list, chosen, [shared, list_options] { return run_list(*shared, *list_options); });

    CLI::App *show = depot->add_subcommand("show", "Show one entry in full")->fallthrough();
    auto show_options = std::make_shared<ShowOptions>();
    show->add_option("id", show_options->id, "The segment's id")->required();
    show->add_option("version", show_options->version, "The segment's version")->required();
    show->add_flag("--json", show_options->json, "Print JSON");
    show->footer(examples({"korvo depot show seg-1 1.0", "korvo depot show seg-1 1.0 --json"}));
    choose(show, chosen, [shared, show_options] { return run_show(*shared, *show_options); });

    CLI::App *usage =
        depot->add_subcommand("usage", "Show the space the depot takes")->fallthrough();
    auto usage_options = std::make_shared<UsageOptions>();
    usage
        ->add_option("--limit", usage_options->limit_kb,
                     "Compare with a limit in KB (what methods give the depot)")
        ->type_name("KB");
    usage->add_flag("--json", usage_options->json, "Print JSON");
    usage->footer(examples({"korvo depot usage", "korvo depot usage --limit 2000 --json"}));
    choose(usage, chosen, [shared, usage_options] { return run_usage(*shared, *usage_options); });

    attach_depot_verify(*depot, shared, chosen);
    attach_depot_purge(*depot, shared, chosen);
}

const CommandRegistration depot_registration{10, attach_depot};

}  // namespace
}  // namespace korvo::cli
