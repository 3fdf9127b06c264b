// Several processes share one depot: four workers and a fifth process that
// is killed with SIGKILL again and again in the middle of its work run
// random adds, completes, unregisters, removes, writes and purges over 50
// segments that fall into 5 buckets. Afterwards the directory must be
// consistent, and every wait that met a lock abandoned by a killed process
// must have gone on or given up as its operation does.
//
// The seed is printed; KORVO_STRESS_SEED=<seed> runs the same operations
// again (the interleaving of the processes is the machine's).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_file.h"
#include "runtime/log.h"
#include "tests/kes/kes_test_process.hpp"

namespace {

using depot_test::Bytes;
using depot_test::ReadBytes;
using depot_test::RecordOf;
using korvo::test::Child;
using korvo::test::Pipe;
using korvo::test::Shared;

constexpr int kWorkers = 4;
constexpr int kWorkerOperations = 1000;
constexpr int kKills = 8;
constexpr int kVictimOperations = 300;

// What one process did and saw. Each process writes only its own slot.
struct Tally {
    int operations, adds, completes, unregisters, removes, writes, purges;
    int tookOver;   // abandoned locks an operation took over and went on with
    int gaveUp;     // waits that met an abandoned lock and ended the operation
    int misplaced;  // lines of the wrong kind for their operation
    char firstMisplaced[160];
};
struct Board {
    Tally workers[kWorkers];
    Tally victims[3 * kKills];
};

// The ids "pkgA-00" to "pkgE-09" with version "1": the first half of
// "pkgA-001" is "pkgA", so each letter's ten segments share one bucket.
std::vector<std::pair<std::string, std::string>> Segments() {
    std::vector<std::pair<std::string, std::string>> segments;
    for (char letter = 'A'; letter <= 'E'; ++letter)
        for (int i = 0; i < 10; ++i)
            segments.emplace_back(std::string("pkg") + letter + "-0" + std::to_string(i), "1");
    return segments;
}

// Checks every failure line a process logs against what its operation may
// say after meeting an abandoned lock.
class LineCheck {
  public:
    explicit LineCheck(Tally *tally) : tally_(tally) {}
    static void Take(void *context, int32_t level, const char *text) {
        static_cast<LineCheck *>(context)->take(level, text);
    }
    void take(int32_t level, const std::string &text) {
        if (level >= 3)
            return;
        static const std::set<std::string> tolerant = {
            "DepotAddEntry",  "DepotCompleteEntry entry",
            "DepotFree",      "DepotPurgeExpiredEntries entry",
            "DepotNew depot", "DepotNew entry"};
        static const std::string kContinue = " continue. Ignore WAIT_TIMEOUT\n";
        if (text.size() > kContinue.size() &&
            text.compare(text.size() - kContinue.size(), kContinue.size(), kContinue) == 0) {
            if (tolerant.count(text.substr(0, text.size() - kContinue.size())) != 0)
                ++tally_->tookOver;
            else
                misplaced(text);
            return;
        }
        if (text.find("Error -2") == std::string::npos &&
            text.find("error -2(") == std::string::npos)
            return;
        // Operations that take an abandoned lock over never give up on it.
        for (const char *op : {"DepotAddEntry exit.", "DepotCompleteEntry exit.", "DepotFree exit.",
                               "DepotFreeEntry exit.", "DepotPurgeExpiredEntries exit.  Error -2(",
                               "DepotNew exit."})
            if (text.rfind(op, 0) == 0)
                return misplaced(text);
        ++tally_->gaveUp;
    }

  private:
    void misplaced(const std::string &text) {
        if (tally_->misplaced++ == 0)
            std::snprintf(tally_->firstMisplaced, sizeof tally_->firstMisplaced, "%s",
                          text.c_str());
    }
    Tally *tally_;
};

class Actor {
  public:
    Actor(const std::string &dir, uint64_t seed, Tally *tally)
        : dir_(dir), random_(seed), tally_(tally), segments_(Segments()) {}
    ~Actor() { close(); }

    bool open() {
        KesStatus status;
        DepotNew(&status, &depot_, dir_.c_str(), 0);
        return status.code == 0 && depot_ != nullptr;
    }
    void close() {
        KesStatus status;
        if (depot_ != nullptr)
            DepotFree(&status, depot_);
        depot_ = nullptr;
    }

    // One random operation.
    void step() {
        const auto &[id, version] = segments_[random_() % segments_.size()];
        KesStatus status;
        ++tally_->operations;
        switch (random_() % 16) {
            case 0:
            case 1:
            case 2:
            case 3:
                if (DepotEntry *entry =
                        DepotAddEntry(depot_, id.c_str(), version.c_str(), Bytes(id + "|props"))) {
                    ++tally_->adds;
                    const bool mine = entry->state == DepotStatePending;
                    if (mine)
                        write(entry, true);
                    if (mine || random_() % 2 == 0) {
                        DepotCompleteEntry(&status, depot_, entry, deadline());
                        ++tally_->completes;
                    }
                }
                break;
            case 4:
            case 5:
                if (DepotEntry *entry = DepotGetEntry(depot_, id.c_str(), version.c_str());
                    entry != nullptr && entry->state != DepotStatePending) {
                    DepotCompleteEntry(&status, depot_, entry, deadline());
                    ++tally_->completes;
                }
                break;
            case 6:
            case 7:
                if (DepotEntry *entry = DepotGetEntry(depot_, id.c_str(), version.c_str())) {
                    DepotUnregisterEntry(&status, depot_, entry, random_() % 4 == 0);
                    ++tally_->unregisters;
                }
                break;
            case 8:
                if (DepotEntry *entry = DepotGetEntry(depot_, id.c_str(), version.c_str())) {
                    DepotRemoveEntry(&status, depot_, entry, random_() % 2 == 0);
                    ++tally_->removes;
                }
                break;
            case 9:
            case 10:
                if (DepotEntry *entry = DepotGetEntry(depot_, id.c_str(), version.c_str()))
                    write(entry, random_() % 2 == 0);
                break;
            case 11:
                if (DepotEntry *entry = DepotGetEntry(depot_, id.c_str(), version.c_str());
                    entry != nullptr && entry->state == DepotStateComplete)
                    DepotEntryChangeState(&status, depot_, entry, DepotStateInUse);
                break;
            case 12:
                DepotPurgeExpiredEntries(&status, depot_);
                ++tally_->purges;
                break;
            case 13:
                DepotPurge(&status, depot_, random_() % 10 == 0);
                ++tally_->purges;
                break;
            case 14: {
                // A fresh handle now and then, as a method process has.
                close();
                open();
                uint64_t offset = 0;
                DepotSetCheckpointOffset(&status, depot_, id.c_str(), version.c_str(), 0, &offset);
                break;
            }
            default:
                DepotEntryModified(depot_, id.c_str(), version.c_str(), 0);
                break;
        }
    }

  private:
    uint32_t deadline() {
        const auto now = static_cast<uint32_t>(std::time(nullptr));
        return random_() % 4 == 0 ? now - 10 : now + 3600;
    }

    // Writes the segment's id at the start of its data file, so that the
    // final check can tell whose bytes a data file holds.
    void write(DepotEntry *entry, bool truncate) {
        KesStatus status;
        KesFile file = nullptr;
        DepotFileOpenForWrite(&status, depot_, entry, &file, truncate);
        if (status.code != 0)
            return;
        const std::string bytes = std::string(entry->id) + "|" + std::to_string(::getpid());
        KesFileWrite(&status, file, bytes.data(), bytes.size(), nullptr);
        KesFileClose(&status, file);
        ++tally_->writes;
    }

    std::string dir_;
    std::mt19937_64 random_;
    Tally *tally_;
    std::vector<std::pair<std::string, std::string>> segments_;
    Depot *depot_ = nullptr;
};

int RunWorker(const std::string &dir, uint64_t seed, bool watched, Tally *tally) {
    if (!watched)
        ::setenv("KORVO_DEPOT_WATCH", "0", 1);
    LineCheck check(tally);
    log_set_capture(LineCheck::Take, &check);
    Actor actor(dir, seed, tally);
    if (!actor.open())
        return 10;
    for (int i = 0; i < kWorkerOperations; ++i)
        actor.step();
    actor.close();
    log_set_capture(nullptr, nullptr);
    return tally->misplaced == 0 ? 0 : 20;
}

// The victim ends the moment it logs the `occurrence`-th `trigger` line,
// which every listed line is logged with a depot lock held; or, without a
// trigger, it reports each finished operation and is killed at a random one.
struct Victim {
    const char *trigger;
    int remaining;
    int report;  // the pipe to the parent
    LineCheck *check;

    static void Take(void *context, int32_t level, const char *text) {
        auto *victim = static_cast<Victim *>(context);
        victim->check->take(level, text);
        if (victim->trigger != nullptr && std::strcmp(text, victim->trigger) == 0 &&
            --victim->remaining == 0) {
            const char byte = 'k';
            static_cast<void>(::write(victim->report, &byte, 1));
            for (;;)
                ::pause();
        }
    }
};

int RunVictim(const std::string &dir, uint64_t seed, const char *trigger, int occurrence,
              int report, bool diesSaving, Tally *tally) {
    if (diesSaving) {
        // A file size limit below any record: the first entry file this life
        // writes ends it by SIGXFSZ, half-way through the temporary file.
        const rlimit small{100, 100};
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &small);
        ::setrlimit(RLIMIT_CORE, &none);
    }
    if (seed % 2 == 0)
        ::setenv("KORVO_DEPOT_WATCH", "0", 1);
    LineCheck check(tally);
    Victim victim{trigger, occurrence, report, &check};
    log_set_capture(Victim::Take, &victim);
    Actor actor(dir, seed, tally);
    if (!actor.open())
        return 10;
    for (int i = 0; i < kVictimOperations; ++i) {
        actor.step();
        if (trigger == nullptr) {
            const char byte = 'o';
            static_cast<void>(::write(report, &byte, 1));
        }
    }
    actor.close();
    log_set_capture(nullptr, nullptr);
    return 0;
}

std::string Summary(const Tally &t) {
    return std::to_string(t.operations) + " operations: " + std::to_string(t.adds) + " adds, " +
           std::to_string(t.completes) + " completes, " + std::to_string(t.unregisters) +
           " unregisters, " + std::to_string(t.removes) + " removes, " + std::to_string(t.writes) +
           " writes, " + std::to_string(t.purges) + " purges; abandoned locks taken over " +
           std::to_string(t.tookOver) + ", given up on " + std::to_string(t.gaveUp);
}

TEST(Stress, ProcessesThatShareADepotAndDieInItLeaveItConsistent) {
    uint64_t seed = std::random_device()();
    if (const char *fixed = std::getenv("KORVO_STRESS_SEED"))
        seed = std::strtoull(fixed, nullptr, 10);
    std::cout << "stress seed " << seed << " (KORVO_STRESS_SEED=" << seed << " repeats it)\n";
    SCOPED_TRACE("KORVO_STRESS_SEED=" + std::to_string(seed));
    ::alarm(240);  // the whole test's watchdog

    depot_test::LockNamespace space;
    depot_test::ScratchDir scratch;
    const std::string dir = scratch.path();
    Shared<Board> board;

    std::vector<std::unique_ptr<Child>> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.push_back(std::make_unique<Child>(
            [&, w] { return RunWorker(dir, seed * 31 + w, w % 2 == 0, &board->workers[w]); }));

    // The victim's lives, in turn: killed at a line logged under a lock,
    // killed after a random number of operations, or ended by the file size
    // limit while it writes an entry file.
    const char *triggers[] = {"DepotEntrySetProperties entry\n", "DepotFindEntryIndex entry\n",
                              "DepotFreeEntry_internal entry\n", "DepotEntryNewFromToc entry\n"};
    std::mt19937_64 plan(seed);
    int kills = 0;
    int diedSaving = 0;
    int lives = 0;
    std::map<std::string, int> killedAt;
    for (; kills < kKills && lives < 3 * kKills; ++lives) {
        const int kind = lives % 3;
        const char *trigger = kind == 0 ? triggers[plan() % 4] : nullptr;
        const int count = 1 + static_cast<int>(plan() % (kind == 0 ? 12 : 100));
        Pipe report;
        Child victim([&] {
            report.closeRead();
            return RunVictim(dir, seed * 131 + lives, trigger, count, report.writeEnd(), kind == 2,
                             &board->victims[lives]);
        });
        report.closeWrite();
        if (kind == 2) {
            const int ended = victim.wait();
            EXPECT_EQ(ended, 128 + SIGXFSZ) << "victim life " << lives;
            diedSaving += ended == 128 + SIGXFSZ;
            continue;
        }
        const int wanted = kind == 0 ? 1 : count;
        int received = 0;
        while (received < wanted && report.receive() != -1)
            ++received;
        if (received == wanted) {
            victim.kill();
            ++kills;
            ++killedAt[kind == 0 ? std::string(trigger, std::strlen(trigger) - 1)
                                 : "a random operation"];
        }
        const int ended = victim.wait();
        EXPECT_TRUE(ended == 0 || ended == 128 + SIGKILL)
            << "victim life " << lives << ": " << ended;
    }
    EXPECT_EQ(kills, kKills);
    for (int w = 0; w < kWorkers; ++w)
        EXPECT_EQ(workers[w]->wait(), 0) << "worker " << w;

    Tally total{};
    const auto add = [&](const Tally &t, const std::string &who) {
        EXPECT_EQ(t.misplaced, 0) << who << ": " << t.firstMisplaced;
        total.operations += t.operations, total.adds += t.adds, total.completes += t.completes;
        total.unregisters += t.unregisters, total.removes += t.removes, total.writes += t.writes;
        total.purges += t.purges, total.tookOver += t.tookOver, total.gaveUp += t.gaveUp;
    };
    for (int w = 0; w < kWorkers; ++w) {
        add(board->workers[w], "worker " + std::to_string(w));
        std::cout << "worker " << w << ": " << Summary(board->workers[w]) << "\n";
    }
    for (int v = 0; v < lives; ++v)
        add(board->victims[v], "victim life " + std::to_string(v));
    std::cout << "all processes: " << Summary(total) << "\n";
    for (const auto &[where, times] : killedAt)
        std::cout << "killed " << times << " times at " << where << "\n";
    std::cout << "ended " << diedSaving << " times writing an entry file\n";

    // The directory: every entry file parses, no segment has two, each
    // entry's data file has its own name and holds only its own bytes, and
    // what is left over can only come from the kills.
    std::map<std::string, std::string> owner;  // id^version -> entry file
    int entryFilesWithoutData = 0;
    int temporaries = 0;
    for (const std::string &name : depot_test::Names(dir)) {
        const std::string path = dir + "/" + name;
        const std::string stem = name.substr(0, name.rfind('.'));
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
            ++temporaries;
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) {
            DepotEntry *entry = DepotEntryNewFromToc(nullptr, RecordOf(path).c_str());
            ASSERT_NE(entry, nullptr) << name << ": " << ReadBytes(path);
            const std::string key = std::string(entry->id) + "^" + entry->version;
            EXPECT_TRUE(owner.emplace(key, name).second)
                << key << " in " << owner[key] << " and " << name;
            EXPECT_EQ(std::string(entry->location), dir + "/" + stem + ".dat") << name;
            const std::string data = dir + "/" + stem + ".dat";
            if (!depot_test::Exists(data)) {
                ++entryFilesWithoutData;
            } else {
                const std::string bytes = ReadBytes(data);
                EXPECT_TRUE(bytes.empty() || bytes.rfind(std::string(entry->id) + "|", 0) == 0)
                    << name << " holds " << bytes;
            }
            KesStatus status;
            DepotEntryFree(&status, nullptr, entry);
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0) {
            EXPECT_TRUE(depot_test::Exists(dir + "/" + stem + ".xml")) << name << " has no entry";
        } else {
            ADD_FAILURE() << "unexpected file " << name;
        }
    }
    std::cout << owner.size() << " entries left, " << entryFilesWithoutData
              << " of them without a data file, " << temporaries << " temporary files\n";
    EXPECT_LE(entryFilesWithoutData, kills + diedSaving);
    EXPECT_LE(temporaries, kills + diedSaving);
    EXPECT_GT(total.tookOver + total.gaveUp, 0) << "no wait met an abandoned lock";

    // A forced purge clears everything, the killed writers' temporaries too.
    KesStatus status;
    Depot *depot = nullptr;
    DepotNew(&status, &depot, dir.c_str(), 0);
    ASSERT_EQ(status.code, 0);
    DepotPurge(&status, depot, 1);
    EXPECT_EQ(status.code, 0);
    DepotFree(&status, depot);
    EXPECT_TRUE(depot_test::Names(dir).empty());
    ::alarm(0);
}

}  // namespace
