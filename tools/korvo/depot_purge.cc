// korvo depot purge: runs the depot's own purges. --expired removes the
// complete entries whose deadline has passed and the pending entries whose
// writer has ended (DepotPurgeExpiredEntries),
// --unreferenced every entry that no distribution holds
// (DepotPurge without force). --dry-run walks the depot and lists what the
// purge would remove, removing nothing.
//
// A purge holds the depot lock for its whole walk and cannot be stopped
// halfway; while it runs, a watcher thread counts the entry files of the
// expected victims that have gone, for the progress display.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "depot_access.hpp"
#include "depot_commands.hpp"
#include "endpoint.hpp"
#include "failure.hpp"
#include "host_files.hpp"
#include "interrupt.hpp"
#include "output.hpp"
#include "progress_bar.hpp"
#include "units.hpp"

namespace korvo::cli {
namespace {

struct PurgeOptions {
    bool expired = false;
    bool unreferenced = false;
    bool dry_run = false;
    bool json = false;
};

bool gone(const std::string &path) {
    struct stat status {};
    return host::lstat_path(path, status) != 0 && errno == ENOENT;
}

// Counts, every tenth of a second until stopped, the candidates whose entry
// files have gone, and shows the count.
class RemovalWatcher {
  public:
    RemovalWatcher(const std::vector<EntryInfo> &candidates, ProgressBar &bar)
        : candidates_(candidates), bar_(bar), thread_([this] { watch(); }) {}
    ~RemovalWatcher() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

  private:
    void watch() {
        std::vector<bool> removed(candidates_.size(), false);
        size_t count = 0;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; })) {
            for (size_t i = 0; i < candidates_.size(); ++i)
                if (!removed[i] && gone(candidates_[i].entry_file)) {
                    removed[i] = true;
                    ++count;
                }
            bar_.update(count);
        }
    }

    const std::vector<EntryInfo> &candidates_;
    ProgressBar &bar_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

Json entries_json(const std::vector<EntryInfo> &entries, std::time_t now) {
    Json list = Json::array();
    for (const EntryInfo &entry : entries)
        list.push_back(entry_json(entry, now));
    return list;
}

void print_entries(const char *title, const std::vector<EntryInfo> &entries) {
    if (entries.empty())
        return;
    std::cout << title << ":\n";
    Table table({"  ID", "VERSION", "STATE", "REFS", "SIZE"});
    table.align_right(3);
    table.align_right(4);
    for (const EntryInfo &entry : entries)
        table.add({"  " + entry.id, entry.version, state_name(entry.state),
                   std::to_string(entry.reference_count),
                   entry.data_size ? format_bytes(*entry.data_size) : "missing"});
    table.print();
}

int run_purge(const DepotOptions &shared, const PurgeOptions &options) {
    if (options.expired == options.unreferenced)
        throw Failure(kExitUsage, "say which purge: --expired or --unreferenced");
    DepotHandle depot(depot_dir_or_configured(shared.dir));
    const char *mode = options.expired ? "expired" : "unreferenced";
    std::time_t now = std::time(nullptr);

    // What the purge would remove, by the purge's own rule.
    std::vector<EntryInfo> candidates;
    WriterLocks writers;
    read_entries(depot, [&](const EntryInfo &entry) {
        if (options.expired ? purged_by_expiry(entry, now, writers) : entry.reference_count == 0)
            candidates.push_back(entry);
        return true;
    });
    std::sort(candidates.begin(), candidates.end(), [](const EntryInfo &a, const EntryInfo &b) {
        return std::tie(a.id, a.version) < std::tie(b.id, b.version);
    });

    if (options.dry_run) {
        if (options.json) {
            print_json({{"depot", depot.dir()},
                        {"purge", mode},
                        {"dry_run", true},
                        {"would_remove", entries_json(candidates, now)}});
        } else {
            std::cout << "The " << mode << " purge of " << printable(depot.dir())
                      << " would remove " << candidates.size()
                      << (candidates.size() == 1 ? " entry" : " entries")
                      << " (nothing was removed).\n";
            print_entries("Would remove", candidates);
        }
        return kExitOk;
    }

    KesStatus status{};
    {
        InterruptScope interrupts(
            "korvo: a purge cannot stop halfway; it goes on to its end (press Ctrl-C again to "
            "stop at once: the system then frees the depot's locks)");
        ProgressBar bar("purging", ProgressUnit::kEntries, candidates.size(),
                        !global_options().quiet);
        {
            RemovalWatcher watcher(candidates, bar);
            if (options.expired)
                DepotPurgeExpiredEntries(&status, depot.get());
            else
                DepotPurge(&status, depot.get(), 0);
        }
        size_t removed = 0;
        for (const EntryInfo &entry : candidates)
            removed += gone(entry.entry_file);
        bar.update(removed);
        bar.finish(InterruptScope::requested() ? "finished (it could not stop halfway)" : "done");
    }

    std::vector<EntryInfo> removed, kept;
    for (const EntryInfo &entry : candidates)
        (gone(entry.entry_file) ? removed : kept).push_back(entry);
    if (options.json) {
        print_json(
            {{"depot", depot.dir()},
             {"purge", mode},
             {"dry_run", false},
             {"removed", entries_json(removed, now)},
             {"kept", entries_json(kept, now)},
             {"status",
              {{"code", status.code}, {"os_error", status.osError}, {"step", status.step}}}});
    } else {
        std::cout << "The " << mode << " purge of " << printable(depot.dir()) << " removed "
                  << removed.size() << (removed.size() == 1 ? " entry" : " entries") << ".\n";
        print_entries("Removed", removed);
        print_entries("Kept (their data files could not be removed, or they changed meanwhile)",
                      kept);
    }
    if (status.code != 0) {
        std::cerr << "korvo: the purge's last removal failed (code " << status.code
                  << ", system error " << status.osError << ")\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void attach_depot_purge(CLI::App &depot, std::shared_ptr<DepotOptions> shared, Action &chosen) {
    CLI::App *purge =
        depot.add_subcommand("purge", "Remove expired or unreferenced entries")->fallthrough();
    auto options = std::make_shared<PurgeOptions>();
    purge->add_flag("--expired", options->expired,
                    "Remove complete entries whose deadline has passed, held or not, and pending "
                    "ones whose writer has ended");
    purge->add_flag("--unreferenced", options->unreferenced,
                    "Remove every entry no distribution holds (reference count 0), pending "
                    "ones included");
    purge->add_flag("-n,--dry-run", options->dry_run, "List what would be removed; remove nothing");
    purge->add_flag("--json", options->json, "Print JSON");
    purge->footer(
        "\nThe purge is the depot's own: it takes the depot's locks, so methods that\n"
        "run meanwhile wait for it, and it cannot be stopped halfway.\n" +
        examples({"korvo depot purge --expired --dry-run", "korvo depot purge --expired",
                  "korvo depot purge --unreferenced --depot ./depot --json"}));
    choose(purge, chosen, [shared, options] { return run_purge(*shared, *options); });
}

}  // namespace korvo::cli
