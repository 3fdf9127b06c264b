// korvo progress list|show: the progress records of a work directory, read
// with the library's property-file load (the bare layout), never written.
// A record is the file "<distribution>.<suffix>" of the progress directory:
// suffix mds or ads while the distribution is under way, mdf or adf once
// finished. States: open, paused, in error, finished (marked done), and for
// a closed stream complete (every byte counted) or interrupted.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <regex>

#include "command_registry.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "output.hpp"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "property_view.hpp"
#include "record_fields.hpp"
#include "units.hpp"

namespace korvo::cli {
namespace {

namespace fs = std::filesystem;

struct ListOptions {
    std::string work_dir;
    bool json = false;
};

struct ShowOptions {
    std::string work_dir;
    std::string id;
    bool json = false;
};

struct Record {
    std::string id;      // from the file name
    std::string suffix;  // mds, ads, mdf, adf
    std::string path;
    std::time_t modified = 0;
    std::string unreadable;  // why the file could not be loaded, or empty
    std::optional<std::string> msid;
    std::optional<uint64_t> total, current;
    bool error = false, paused = false, closed = false;
    std::optional<std::string> error_text;
    Json properties;

    bool finished() const { return suffix.back() == 'f'; }
    std::string state() const {
        if (!unreadable.empty())
            return "unreadable";
        if (finished())
            return "finished";
        if (error)
            return "in error";
        if (paused)
            return "paused";
        // A closed stream either read everything the record counts or
        // stopped short of it (Ctrl-C, a failure): the run to resume.
        if (closed)
            return complete() ? "complete" : "interrupted";
        return "open";
    }
    bool complete() const { return total && current && *current >= *total; }
    std::optional<double> percent() const {
        if (total && current && *total > 0)
            return std::min(100.0, 100.0 * static_cast<double>(*current) / *total);
        if (finished() || (total && *total == 0))
            return 100.0;
        return std::nullopt;
    }
};

// The UTF-8 text of a path, and the path of a UTF-8 text: names are UTF-8
// to the library on every host, where a plain string of a path is in the
// ANSI code page on Windows.
std::string utf8_of(const fs::path &path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path path_of(const std::string &text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

Record load_record(const fs::path &path, std::string id, std::string suffix) {
    Record record;
    record.id = std::move(id);
    record.suffix = std::move(suffix);
    record.path = utf8_of(path);
    struct stat status {};
    if (stat(record.path.c_str(), &status) == 0)
        record.modified = status.st_mtime;
    PropertyList list;
    try {
        library_call([&] { properties_load_without_len(list.get(), record.path.c_str()); });
    } catch (const LibraryFailure &failure) {
        record.unreadable = failure.what();
        return record;
    }
    const Properties &p = *list.get();
    record.msid = record_text(p, "msid");
    record.total = record_decimal(p, "t_len");
    record.current = record_decimal(p, "c_len");
    record.error = record_flag(p, "err");
    record.paused = record_flag(p, "paused");
    record.closed = record_flag(p, "close");
    record.error_text = record_text(p, "err_msg");
    record.properties = properties_json(p);
    return record;
}

// Every record of the progress directory, by distribution.
std::vector<Record> load_records(const std::string &dir) {
    static const std::regex name_form(R"((.+)\.(mds|ads|mdf|adf))");
    std::vector<Record> records;
    std::error_code error;
    fs::directory_iterator listing(path_of(dir), error);
    if (error) {
        if (error == std::errc::no_such_file_or_directory)
            return records;
        throw Failure(kExitFailed,
                      "cannot list the progress directory " + dir + ": " + error.message());
    }
    for (const auto &item : listing) {
        std::string name = utf8_of(item.path().filename());
        std::smatch parts;
        if (!std::regex_match(name, parts, name_form) || !item.is_regular_file(error))
            continue;
        // Joined as every path under the work directory is, with '/'.
        records.push_back(load_record(path_of(dir + "/" + name), parts[1].str(), parts[2].str()));
    }
    std::sort(records.begin(), records.end(), [](const Record &a, const Record &b) {
        return std::tie(a.id, a.suffix) < std::tie(b.id, b.suffix);
    });
    return records;
}

Json record_json(const Record &record, bool with_properties) {
    auto number = [](const std::optional<uint64_t> &value) {
        return value ? Json(*value) : Json(nullptr);
    };
    std::optional<double> percent = record.percent();
    Json json = {{"distribution", record.msid.value_or(record.id)},
                 {"file", record.path},
                 {"state", record.state()},
                 {"percent", percent ? Json(*percent) : Json(nullptr)},
                 {"received_bytes", number(record.current)},
                 {"total_bytes", number(record.total)},
                 {"finished", record.finished()},
                 {"error", record.error},
                 {"error_message", record.error_text ? Json(*record.error_text) : Json(nullptr)},
                 {"paused", record.paused},
                 {"closed", record.closed},
                 {"updated", format_local_time(record.modified)}};
    if (!record.unreadable.empty())
        json["unreadable"] = record.unreadable;
    if (with_properties)
        json["properties"] = record.properties;
    return json;
}

std::string percent_text(const Record &record) {
    std::optional<double> percent = record.percent();
    if (!percent)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", *percent);
    return text;
}

std::string bytes_text(const std::optional<uint64_t> &bytes) {
    return bytes ? format_bytes(*bytes) : "-";
}

int run_list(const ListOptions &options) {
    std::string dir = progress_dir(existing_work_dir(options.work_dir));
    std::vector<Record> records = load_records(dir);
    if (options.json) {
        Json list = Json::array();
        for (const Record &record : records)
            list.push_back(record_json(record, false));
        print_json({{"progress_directory", dir}, {"records", list}});
        return kExitOk;
    }
    if (records.empty()) {
        std::cout << "No progress records in " << printable(dir) << ".\n";
        return kExitOk;
    }
    Table table({"DISTRIBUTION", "STATE", "DONE", "RECEIVED", "TOTAL", "UPDATED"});
    table.align_right(2);
    table.align_right(3);
    table.align_right(4);
    for (const Record &record : records)
        table.add({record.msid.value_or(record.id), record.state(), percent_text(record),
                   bytes_text(record.current), bytes_text(record.total),
                   format_local_time(record.modified)});
    table.print();
    return kExitOk;
}

int run_show(const ShowOptions &options) {
    std::string dir = progress_dir(existing_work_dir(options.work_dir));
    std::vector<Record> matching;
    for (Record &record : load_records(dir))
        if (record.id == options.id || record.msid == options.id)
            matching.push_back(std::move(record));
    if (matching.empty())
        throw Failure(kExitNotFound,
                      "no progress record of " + quote_text(options.id) + " in " + dir);
    if (options.json) {
        Json list = Json::array();
        for (const Record &record : matching)
            list.push_back(record_json(record, true));
        print_json(list.size() == 1 ? list[0] : list);
        return kExitOk;
    }
    bool first = true;
    for (const Record &record : matching) {
        if (!first)
            std::cout << '\n';
        first = false;
        std::cout << "Distribution  " << printable(record.msid.value_or(record.id)) << "\n"
                  << "File          " << printable(record.path) << "\n"
                  << "State         " << record.state() << "\n";
        if (!record.unreadable.empty()) {
            std::cout << "Unreadable    " << printable(record.unreadable) << "\n";
            continue;
        }
        std::cout << "Done          " << percent_text(record) << " (" << bytes_text(record.current)
                  << " of " << bytes_text(record.total) << ")\n"
                  << "Updated       " << format_local_time(record.modified) << "\n";
        if (record.error_text)
            std::cout << "Error         " << printable(*record.error_text) << "\n";
        std::cout << "Record:\n";
        PropertyList list;
        library_call([&] { properties_load_without_len(list.get(), record.path.c_str()); });
        print_properties(*list.get(), 2);
    }
    return kExitOk;
}

void attach_progress(CLI::App &root, Action &chosen) {
    CLI::App *progress =
        root.add_subcommand("progress", "Show the progress records of distributions")
            ->require_subcommand(1);
    progress->footer(
        "\nRecords lie in the \"mstat\" directory of the work directory: --work-dir,\n"
        "else KORVO_WORK_DIR, else the temporary directory.\n" +
        examples({"korvo progress list", "korvo progress show 42 --work-dir /var/spool/korvo"}));

    CLI::App *list = progress->add_subcommand("list", "List every record: state, percent, bytes");
    auto list_options = std::make_shared<ListOptions>();
    list->add_option("-w,--work-dir", list_options->work_dir, "The endpoint's work directory")
        ->type_name("DIR");
    list->add_flag("--json", list_options->json, "Print JSON");
    list->footer(
        "\nStates: open, paused, in error, complete (the stream was closed with every\n"
        "byte received), interrupted (closed short of its end: run the receive again),\n"
        "finished (the method marked the record done), unreadable.\n" +
        examples(
            {"korvo progress list", "korvo progress list --work-dir /var/spool/korvo --json"}));
    choose(list, chosen, [list_options] { return run_list(*list_options); });

    CLI::App *show = progress->add_subcommand("show", "Show one distribution's record in full");
    auto show_options = std::make_shared<ShowOptions>();
    show->add_option("distribution", show_options->id, "The distribution id")->required();
    show->add_option("-w,--work-dir", show_options->work_dir, "The endpoint's work directory")
        ->type_name("DIR");
    show->add_flag("--json", show_options->json, "Print JSON");
    show->footer(examples({"korvo progress show 42", "korvo progress show 42 --json"}));
    choose(show, chosen, [show_options] { return run_show(*show_options); });
}

const CommandRegistration progress_registration{30, attach_progress};

}  // namespace
}  // namespace korvo::cli
