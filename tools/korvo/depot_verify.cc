// korvo depot verify: checks every entry of a depot and lists the files
// that belong to no entry, without changing anything. The walk is the
// depot's own (its locks, its parser); the entry files it could not return
// are read and parsed here, read-only, to tell a damaged one from one that
// appeared during the walk.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <set>

#include "depot_access.hpp"
#include "depot_commands.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "host_files.hpp"
#include "host_system.hpp"
#include "interrupt.hpp"
#include "kes/kes_memory.h"
#include "output.hpp"
#include "progress_bar.hpp"
#include "units.hpp"

namespace korvo::cli {
namespace {

namespace fs = std::filesystem;

// Entry files are small; anything bigger than this is not one.
constexpr off_t kLargestEntryFile = 64 << 20;

struct VerifyOptions {
    bool json = false;
};

struct Finding {
    std::string name;    // the file the finding is about (a name in the depot)
    std::string kind;    // a stable word for scripts: "missing-data-file" ...
    std::string detail;  // the sentence for people
    std::string id, version;
};

struct DirectoryName {
    std::string name;
    struct stat status;
};

bool ends_with(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The names the depot takes for entry files.
bool is_entry_file_name(const std::string &name) {
    return name.size() > 3 && ends_with(name, "xml");
}

std::vector<DirectoryName> list_directory(const std::string &dir) {
    std::vector<DirectoryName> names;
    std::error_code error;
    for (const auto &item : fs::directory_iterator(dir, error)) {
        DirectoryName entry{item.path().filename().string(), {}};
        if (host::lstat_path(item.path().string(), entry.status) != 0)
            continue;  // gone since the listing
        names.push_back(std::move(entry));
    }
    if (error)
        throw Failure(kExitFailed, "cannot list " + dir + ": " + error.message());
    return names;
}

std::string file_kind(const struct stat &status) {
    if (host::is_link(status))
        return "a symbolic link";
    if (S_ISREG(status.st_mode))
        return "a file of " + std::to_string(status.st_size) + " bytes";
    if (S_ISDIR(status.st_mode))
        return "a directory";
    if (S_ISFIFO(status.st_mode))
        return "a FIFO";
    if (host::is_socket(status))
        return "a socket";
    return "a device";
}

fs::path comparable(const fs::path &path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? path.lexically_normal() : canonical;
}

// Reads an entry file the walk did not return and parses it with the
// depot's parser: the entry, or nothing with `why` set.
std::optional<EntryInfo> parse_entry_file(Depot *depot, const std::string &path, std::string &why) {
    int fd = host::open_read_no_follow(path);
    if (fd < 0) {
        why = std::string("it cannot be opened: ") + std::strerror(errno);
        return std::nullopt;
    }
    struct stat status {};
    std::string text;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "it is not a regular file";
    } else if (status.st_size > kLargestEntryFile) {
        why = "it is " + std::to_string(status.st_size) + " bytes long, far too long for an entry";
    } else {
        text.resize(static_cast<size_t>(status.st_size));
        ssize_t got = read(fd, text.data(), text.size());
        if (got < 0)
            why = std::string("it cannot be read: ") + std::strerror(errno);
        text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    }
    close(fd);
    if (!why.empty())
        return std::nullopt;
    DepotEntry *entry = DepotEntryNewFromToc(nullptr, text.c_str());
    if (entry == nullptr) {
        why = "it does not parse as an entry record";
        return std::nullopt;
    }
    EntryInfo info = copy_entry(entry);
    info.entry_file = path;
    KesStatus ignored;
    DepotEntryFree(&ignored, depot, entry);
    return info;
}

class Verifier {
  public:
    explicit Verifier(DepotHandle &depot) : depot_(depot), dir_(comparable(depot.dir())) {}

    // Checks one entry; records which names of the depot it accounts for.
    void check(const EntryInfo &entry) {
        std::string entry_name = fs::path(entry.entry_file).filename().string();
        claimed_.insert(entry_name);
        auto add = [&](const std::string &kind, const std::string &detail) {
            problems_.push_back({entry_name, kind, detail, entry.id, entry.version});
        };
        std::string segment = quote_text(entry.id) + " " + quote_text(entry.version);
        if (auto [it, fresh] = segments_.try_emplace({entry.id, entry.version}, entry_name); !fresh)
            add("duplicate-segment", "the segment " + segment + " also has the entry file " +
                                         it->second + "; lookups find only one of them");
        if (char *bucket = DepotFindBucket(entry.id.c_str(), entry.version.c_str())) {
            std::string wanted = std::string(bucket) + ".";
            KesMemoryFree(bucket);
            if (entry_name.compare(0, wanted.size(), wanted) != 0)
                add("wrong-bucket", "the segment " + segment + " belongs in bucket " +
                                        wanted.substr(0, 8) + "; lookups will not find it");
        }
        if (entry.location.empty()) {
            add("no-data-file", "the entry names no data file");
            return;
        }
        fs::path data(entry.location);
        if (comparable(data.parent_path()) != dir_) {
            add("data-file-outside",
                "its data file " + entry.location + " lies outside the depot directory");
            return;
        }
        std::string data_name = data.filename().string();
        if (auto [it, fresh] = data_files_.try_emplace(data_name, entry_name); !fresh)
            add("shared-data-file",
                "its data file " + data_name + " is also the data file of " + it->second);
        claimed_.insert(data_name);
        struct stat status {};
        if (host::lstat_path(entry.location, status) != 0) {
            add("missing-data-file", "its data file " + data_name + " is missing");
            return;
        }
        if (host::is_link(status) || !S_ISREG(status.st_mode)) {
            add("data-file-not-regular", "its data file " + data_name + " is " + file_kind(status));
            return;
        }
        // A pending entry is still being written; complete data must have
        // the size its segment records.
        if (entry.state == DepotStatePending)
            return;
        if (std::optional<uint64_t> expected = recorded_size(entry);
            expected && *expected != static_cast<uint64_t>(status.st_size))
            add("size-mismatch", "its data file " + data_name + " holds " +
                                     std::to_string(status.st_size) + " bytes; the segment has " +
                                     std::to_string(*expected));
    }

    // Entry files the walk did not return: damaged, or added meanwhile.
    void check_unwalked(const std::vector<DirectoryName> &names) {
        for (const DirectoryName &item : names) {
            if (!is_entry_file_name(item.name) || claimed_.count(item.name))
                continue;
            std::string why;
            std::optional<EntryInfo> entry =
                parse_entry_file(depot_.get(), (fs::path(depot_.dir()) / item.name).string(), why);
            if (entry) {
                ++checked_;
                check(*entry);
            } else {
                claimed_.insert(item.name);
                problems_.push_back({item.name, "damaged-entry-file",
                                     "an entry file the depot cannot use: " + why, "", ""});
            }
        }
    }

    // Files that belong to no entry.
    void find_strays(const std::vector<DirectoryName> &names) {
        static const std::regex temporary(R"((.+\.xml)\.([0-9]+)\.[0-9]+\.tmp)");
        for (const DirectoryName &item : names) {
            if (claimed_.count(item.name))
                continue;
            std::smatch parts;
            if (std::regex_match(item.name, parts, temporary) && S_ISREG(item.status.st_mode)) {
                const int64_t pid = std::stoll(parts[2].str());
                if (host::process_running(pid))
                    continue;  // a record that a running process is writing
                strays_.push_back({item.name, "temporary-file",
                                   "a record left half-written by process " + parts[2].str() +
                                       ", which has ended",
                                   "", ""});
            } else if (ends_with(item.name, ".dat") && S_ISREG(item.status.st_mode)) {
                strays_.push_back({item.name, "orphan-data-file",
                                   "a data file of no entry (" + file_kind(item.status) + ")", "",
                                   ""});
            } else {
                strays_.push_back({item.name, "stray-file",
                                   "not a file of the depot (" + file_kind(item.status) + ")", "",
                                   ""});
            }
        }
    }

    size_t &checked() { return checked_; }
    const std::vector<Finding> &problems() const { return problems_; }
    const std::vector<Finding> &strays() const { return strays_; }

  private:
    DepotHandle &depot_;
    fs::path dir_;
    size_t checked_ = 0;
    std::set<std::string> claimed_;
    std::map<std::pair<std::string, std::string>, std::string> segments_;
    std::map<std::string, std::string> data_files_;
    std::vector<Finding> problems_;
    std::vector<Finding> strays_;
};

Json findings_json(const std::vector<Finding> &findings) {
    Json list = Json::array();
    for (const Finding &finding : findings) {
        Json item = {{"name", finding.name}, {"kind", finding.kind}, {"detail", finding.detail}};
        if (!finding.id.empty() || !finding.version.empty()) {
            item["id"] = finding.id;
            item["version"] = finding.version;
        }
        list.push_back(item);
    }
    return list;
}

void print_findings(const char *title, const std::vector<Finding> &findings) {
    if (findings.empty())
        return;
    std::cout << title << ":\n";
    size_t width = 0;
    for (const Finding &finding : findings)
        width = std::max(width, printable(finding.name).size());
    for (const Finding &finding : findings) {
        std::string name = printable(finding.name);
        std::cout << "  " << name << std::string(width - name.size(), ' ') << "  "
                  << printable(finding.detail) << '\n';
    }
}

std::string counted(size_t count, const char *one, const char *many) {
    return count == 0 ? std::string("no ") + many
                      : std::to_string(count) + " " + (count == 1 ? one : many);
}

int run_verify(const DepotOptions &shared, const VerifyOptions &options) {
    DepotHandle depot(depot_dir_or_configured(shared.dir));
    size_t entry_files = count_entry_files(depot.dir());

    Verifier verifier(depot);
    InterruptScope interrupts;
    ProgressBar bar("verifying", ProgressUnit::kEntries, entry_files, !global_options().quiet);
    walk_entries(depot, [&](const EntryInfo &entry) {
        verifier.check(entry);
        bar.update(++verifier.checked());
        return !InterruptScope::requested();
    });
    if (InterruptScope::requested()) {
        bar.finish("interrupted");
        std::cerr << "korvo: verify stopped after " << verifier.checked()
                  << " entries; nothing was changed\n";
        return InterruptScope::exit_code();
    }
    // Names listed after the walk, so that files the walk's entries name
    // are all known when strays are sought.
    std::vector<DirectoryName> after = list_directory(depot.dir());
    verifier.check_unwalked(after);
    verifier.find_strays(after);
    bar.set_total(verifier.checked());
    bar.update(verifier.checked());
    bar.finish("done");

    const auto &problems = verifier.problems();
    const auto &strays = verifier.strays();
    if (options.json) {
        print_json({{"depot", depot.dir()},
                    {"entries_checked", verifier.checked()},
                    {"problems", findings_json(problems)},
                    {"stray_files", findings_json(strays)}});
    } else {
        std::cout << "Verified " << counted(verifier.checked(), "entry", "entries") << " of "
                  << printable(depot.dir()) << ": "
                  << counted(problems.size(), "problem", "problems") << ", "
                  << counted(strays.size(), "stray file", "stray files") << ".\n";
        print_findings("Problems", problems);
        print_findings("Stray files", strays);
    }
    return problems.empty() && strays.empty() ? kExitOk : kExitProblems;
}

}  // namespace

void attach_depot_verify(CLI::App &depot, std::shared_ptr<DepotOptions> shared, Action &chosen) {
    CLI::App *verify =
        depot.add_subcommand("verify", "Check every entry and list stray files; changes nothing")
            ->fallthrough();
    auto options = std::make_shared<VerifyOptions>();
    verify->add_flag("--json", options->json, "Print JSON");
    verify->footer(
        "\nEvery entry file must parse and lie in its segment's bucket, and name a data\n"
        "file inside the depot that exists, is a regular file and, once the entry is\n"
        "complete, has the size its segment records. Files that belong to no entry\n"
        "are stray. Exit code 4 when anything was found.\n" +
        examples({"korvo depot verify --depot /var/spool/korvo/depot",
                  "korvo depot verify --json | jq '.problems[] | .kind'"}));
    choose(verify, chosen, [shared, options] { return run_verify(*shared, *options); });
}

}  // namespace korvo::cli
