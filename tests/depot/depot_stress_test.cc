// Several processes share one depot: seven workers and an eighth process
// that is killed again and again in the middle of its work run random adds,
// completes, unregisters, removes, writes (reserving space against a small
// limit) and purges over 50 segments that fall into 5 buckets. Afterwards
// the directory must be consistent, and every wait that met a lock
// abandoned by a dead process must have gone on or given up as its
// operation does.
//
// The seed is printed; KORVO_STRESS_SEED=<seed> runs the same operations
// again (the interleaving of the processes is the machine's).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_file.h"
#include "runtime/log.h"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using korvo::test::Child;
using korvo::test::Pipe;

#if defined(_WIN32)
// Under Wine every file call of every process goes through one server, and
// a depot operation takes up to half a second when several processes share
// it: fewer processes and operations keep the workers within their
// watchdogs, with the same kinds of death.
constexpr int kWorkers = 4;
constexpr int kWorkerOperations = 30;
constexpr int kVictimOperations = 30;
constexpr int kKills = 8;
#else
constexpr int kWorkers = 7;
constexpr int kWorkerOperations = 400;
constexpr int kVictimOperations = 300;
constexpr int kKills = 24;
#endif
// Each handle may reserve this many kilobytes; a write reserves one.
constexpr uint32_t kLimitKb = 4;

enum Counter {
    kAdds,
    kCompletes,
    kUnregisters,
    kRemoves,
    kWrites,
    kPurges,
    kRefused,
    kTookOver,
    kGaveUp,
    kCounters
};
const char *const kCounterNames[] = {"adds",
                                     "completes",
                                     "unregisters",
                                     "removes",
                                     "writes",
                                     "purges",
                                     "reservations refused",
                                     "abandoned locks taken over",
                                     "abandoned locks given up on"};

// What one process did and saw; each process writes only its own.
struct Tally {
    int counts[kCounters];
    int misplaced;  // failure lines of the wrong kind for their operation
    char firstMisplaced[160];
};
struct Board {
    Tally tallies[kWorkers + 3 * kKills];
};

// Checks a process's failure lines: an operation that takes an abandoned lock
// over logs "continue" and never gives up on it; the others give up.
struct LineCheck {
    Tally *tally;
    const char *killAt = nullptr;  // ends the process at the n-th such line
    int remaining = 0;
    korvo::test::PipeEnd *report = nullptr;

    static void Take(void *context, int32_t level, const char *text) {
        auto *check = static_cast<LineCheck *>(context);
        if (level < 3)
            check->classify(text);
        if (check->killAt != nullptr && std::strcmp(text, check->killAt) == 0 &&
            --check->remaining == 0) {
            check->report->send('k');
            for (;;)  // idle until the parent kills the process
                std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    void classify(const std::string &text) {
        static const std::set<std::string> tolerant = {
            "DepotAddEntry",  "DepotCompleteEntry entry",
            "DepotFree",      "DepotPurgeExpiredEntries entry",
            "DepotNew depot", "DepotNew entry"};
        static const std::string kContinue = " continue. Ignore WAIT_TIMEOUT\n";
        const size_t at = text.find(kContinue);
        if (at != std::string::npos)
            return tolerant.count(text.substr(0, at)) ? void(++tally->counts[kTookOver])
                                                      : misplaced(text);
        if (text.find("Error -2") == std::string::npos &&
            text.find("error -2(") == std::string::npos)
            return;
        for (const char *op : {"DepotAddEntry exit.", "DepotCompleteEntry exit.", "DepotFree exit.",
                               "DepotFreeEntry exit.", "DepotPurgeExpiredEntries exit.  Error -2(",
                               "DepotNew exit."})
            if (text.rfind(op, 0) == 0)
                return misplaced(text);
        ++tally->counts[kGaveUp];
    }
    void misplaced(const std::string &text) {
        if (tally->misplaced++ == 0)
            std::snprintf(tally->firstMisplaced, sizeof tally->firstMisplaced, "%s", text.c_str());
    }
};

// Random operations on segments "pkgA-00" to "pkgE-09", version "1": the hash
// reads "pkgA" of "pkgA-001", so each letter's ten segments share a bucket.
class Actor {
  public:
    Actor(const std::string &dir, uint64_t seed, Tally *tally)
        : dir_(dir), random_(seed), tally_(tally) {}
    ~Actor() { reopen(false); }

    bool reopen(bool again = true) {
        KesStatus status;
        if (depot_ != nullptr)
            DepotFree(&status, depot_);
        depot_ = nullptr;
        return !again || DepotNew(&status, &depot_, dir_.c_str(), kLimitKb)->code == 0;
    }

    void step() {
        const std::string id =
            std::string("pkg") + char('A' + random_() % 5) + "-0" + char('0' + random_() % 10);
        const char *version = "1";
        KesStatus status;
        const int kind = static_cast<int>(random_() % 16);
        DepotEntry *entry = nullptr;
        if (kind < 4) {
            // Add; a new entry is written and completed by its adder.
            entry =
                DepotAddEntry(depot_, id.c_str(), version, depot_test::Bytes(id + "|properties"));
            count(kAdds, entry != nullptr);
            if (entry != nullptr && entry->state == DepotStatePending)
                write(entry, true);
            if (entry != nullptr)
                count(kCompletes,
                      DepotCompleteEntry(&status, depot_, entry, deadline()) != nullptr);
        } else if (kind < 12) {
            entry = DepotGetEntry(depot_, id.c_str(), version);
            if (entry == nullptr)
                return;
            if (kind < 6 && entry->state != DepotStatePending)
                count(kCompletes,
                      DepotCompleteEntry(&status, depot_, entry, deadline()) != nullptr);
            else if (kind < 8)
                count(kUnregisters,
                      DepotUnregisterEntry(&status, depot_, entry, random_() % 4 == 0));
            else if (kind < 9)
                count(kRemoves, DepotRemoveEntry(&status, depot_, entry, random_() % 2 == 0));
            else if (kind < 11)
                write(entry, random_() % 2 == 0);
            else if (entry->state == DepotStateComplete)
                DepotEntryChangeState(&status, depot_, entry, DepotStateInUse);
        } else if (kind == 12) {
            count(kPurges, DepotPurgeExpiredEntries(&status, depot_) != nullptr);
        } else if (kind == 13) {
            count(kPurges, DepotPurge(&status, depot_, random_() % 10 == 0) != nullptr);
        } else if (kind == 14) {
            // A fresh handle now and then, as method processes come and go.
            reopen();
            uint64_t offset = 0;
            DepotSetCheckpointOffset(&status, depot_, id.c_str(), version, 0, &offset);
        } else {
            DepotEntryModified(depot_, id.c_str(), version, 0);
        }
    }

  private:
    void count(Counter counter, bool done) { tally_->counts[counter] += done ? 1 : 0; }
    uint32_t deadline() {
        const auto now = static_cast<uint32_t>(std::time(nullptr));
        return random_() % 4 == 0 ? now - 10 : now + 3600;
    }
    // Puts the segment's id at the start of its data file, so that the final
    // check can tell whose bytes a data file holds.
    void write(DepotEntry *entry, bool truncate) {
        KesStatus status;
        if (DepotReserveDiskSpace(&status, depot_, 1)->code == KES_NO_SPACE) {
            count(kRefused, true);
            return;
        }
        KesFile file = nullptr;
        if (DepotFileOpenForWrite(&status, depot_, entry, &file, truncate)->code != 0)
            return;
        const std::string bytes = std::string(entry->id) + "|" + std::to_string(::getpid());
        KesFileWrite(&status, file, bytes.data(), bytes.size(), nullptr);
        KesFileClose(&status, file);
        count(kWrites, true);
    }

    std::string dir_;
    std::mt19937_64 random_;
    Tally *tally_;
    Depot *depot_ = nullptr;
};

// One process's life: `operations` random operations, reporting each on
// `report` when asked to; ends at the `occurrence`-th `killAt` line.
int Live(const std::string &dir, uint64_t seed, Tally *tally, int operations, bool watched,
         const char *killAt = nullptr, int occurrence = 0, korvo::test::PipeEnd *report = nullptr,
         bool reportEach = false) {
    if (!watched)
        korvo::test::setEnvironmentVariable("KORVO_DEPOT_WATCH", "0");
    LineCheck check{tally, killAt, occurrence, report};
    log_set_capture(LineCheck::Take, &check);
    Actor actor(dir, seed, tally);
    if (!actor.reopen())
        return 10;
    for (int i = 0; i < operations; ++i) {
        actor.step();
        if (reportEach)
            report->send('o');
    }
    return tally->misplaced == 0 ? 0 : 20;
}

// A worker: the board arg(0), the depot arg(1), its seed arg(2) and number
// arg(3).
KORVO_CHILD_BODY(StressWorker) {
    korvo::test::Shared<Board> board(child.arg(0));
    const int w = std::stoi(child.arg(3));
    return Live(child.arg(1), std::stoull(child.arg(2)), &board->tallies[w], kWorkerOperations,
                w % 2 == 0);
}

// One life of the victim: the board arg(0), the depot arg(1), its seed arg(2),
// its life arg(3), its kind arg(4), the line it is killed at arg(5) (empty
// for none) and how many of them arg(6); it reports on end 0.
KORVO_CHILD_BODY(StressVictim) {
    korvo::test::Shared<Board> board(child.arg(0));
    const int life = std::stoi(child.arg(3)), kind = std::stoi(child.arg(4));
    if (kind == 2 && !korvo::test::limitOwnFileSize(100))  // below any record
        return 1;
    const std::string killAt = child.arg(5);
    return Live(child.arg(1), std::stoull(child.arg(2)), &board->tallies[kWorkers + life],
                kVictimOperations, life % 2 == 0, killAt.empty() ? nullptr : killAt.c_str(),
                std::stoi(child.arg(6)), &child.end(0), kind == 1);
}

TEST(Stress, ProcessesThatShareADepotAndDieInItLeaveItConsistent) {
    uint64_t seed = std::random_device()();
    if (const char *fixed = std::getenv("KORVO_STRESS_SEED"))
        seed = std::strtoull(fixed, nullptr, 10);
    std::cout << "stress seed " << seed << " (KORVO_STRESS_SEED=" << seed << " repeats it)\n";
    SCOPED_TRACE("KORVO_STRESS_SEED=" + std::to_string(seed));
    korvo::test::Watchdog watchdog(240);  // the watchdog of the whole test

    depot_test::LockNamespace space;
    depot_test::ScratchDir scratch;
    const std::string dir = scratch.path();
    korvo::test::Shared<Board> board;
#if defined(_WIN32)
    // A named mutex lasts only while some process holds it open: this handle
    // keeps the depot's locks, so that one the victim dies holding stays
    // abandoned for the next process that takes it, whoever is still alive.
    KesStatus holding;
    Depot *keeper = nullptr;
    ASSERT_EQ(DepotNew(&holding, &keeper, dir.c_str(), 0)->code, 0);
#endif
    std::vector<std::unique_ptr<Child>> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.push_back(std::make_unique<Child>(
            "StressWorker",
            korvo::test::ChildStart{
                .args = {board.name(), dir, std::to_string(seed * 31 + w), std::to_string(w)}}));

    // The fifth process's lives, in turn: killed at a line it logs while it
    // holds a depot lock, killed after a random number of operations, or
    // ended by a file size limit half-way through writing an entry file.
    const char *lockedLines[] = {"DepotEntrySetProperties entry\n", "DepotFindEntryIndex entry\n",
                                 "DepotFreeEntry_internal entry\n", "DepotEntryNewFromToc entry\n"};
    std::mt19937_64 plan(seed);
    int kills = 0, diedWriting = 0, lives = 0;
    std::map<std::string, int> killedAt;
    // Where no file size limit can end a process, its lives are the two
    // kinds of kill.
    const int kinds = korvo::test::fileSizeLimitHost() ? 3 : 2;
    for (; kills < kKills && lives < 3 * kKills; ++lives) {
        const int kind = lives % kinds;
        const char *killAt = kind == 0 ? lockedLines[plan() % 4] : nullptr;
        const int count = 1 + static_cast<int>(plan() % (kind == 0 ? 12 : 100));
        Pipe report;
        Child victim(
            "StressVictim",
            {.args = {board.name(), dir, std::to_string(seed * 131 + lives), std::to_string(lives),
                      std::to_string(kind), killAt != nullptr ? killAt : "", std::to_string(count)},
             .ends = {report.writeEnd()}});
        report.closeWrite();
        if (kind == 2) {
            EXPECT_EQ(victim.wait(), korvo::test::fileSizeExceededStatus()) << "life " << lives;
            ++diedWriting;
            continue;
        }
        int received = 0;
        while (received < (kind == 0 ? 1 : count) && report.receive() != -1)
            ++received;
        if (received == (kind == 0 ? 1 : count)) {
            victim.kill();
            ++kills;
            ++killedAt[killAt != nullptr ? std::string(killAt, std::strlen(killAt) - 1)
                                         : "a random operation"];
        }
        const int ended = victim.wait();
        EXPECT_TRUE(ended == 0 || ended == korvo::test::kKilled)
            << "life " << lives << ": " << ended;
    }
    EXPECT_EQ(kills, kKills);
    for (int w = 0; w < kWorkers; ++w)
        EXPECT_EQ(workers[w]->wait(), 0) << "worker " << w;
#if defined(_WIN32)
    DepotFree(&holding, keeper);
#endif

    int total[kCounters] = {};
    for (int p = 0; p < kWorkers + lives; ++p) {
        const Tally &t = board->tallies[p];
        EXPECT_EQ(t.misplaced, 0) << "process " << p << ": " << t.firstMisplaced;
        for (int c = 0; c < kCounters; ++c)
            total[c] += t.counts[c];
    }
    for (int c = 0; c < kCounters; ++c)
        std::cout << total[c] << " " << kCounterNames[c] << "\n";
    for (const auto &[where, times] : killedAt)
        std::cout << "killed " << times << " times at " << where << "\n";
    std::cout << "ended " << diedWriting << " times writing an entry file\n";
    EXPECT_GT(total[kTookOver] + total[kGaveUp], 0) << "no wait met an abandoned lock";

    // Every entry file parses; no segment has two; each entry's data file has
    // its own name and holds only its own segment's bytes; what is left over
    // can only come from the deaths.
    std::set<std::string> segments;
    int withoutData = 0, temporaries = 0;
    for (const std::string &name : depot_test::Names(dir)) {
        const std::string stem = scratch / name.substr(0, name.rfind('.'));
        const std::string suffix = name.substr(name.rfind('.') + 1);
        if (suffix == "tmp") {
            ++temporaries;
        } else if (suffix == "dat") {
            EXPECT_TRUE(depot_test::Exists(stem + ".xml")) << name << " has no entry";
        } else {
            ASSERT_EQ(suffix, "xml") << name;
            DepotEntry *entry =
                DepotEntryNewFromToc(nullptr, depot_test::RecordOf(stem + ".xml").c_str());
            ASSERT_NE(entry, nullptr) << name;
            EXPECT_TRUE(segments.insert(std::string(entry->id) + "^" + entry->version).second)
                << entry->id << " twice";
            EXPECT_EQ(std::string(entry->location), stem + ".dat");
            const std::string bytes = depot_test::ReadBytes(stem + ".dat");
            withoutData += depot_test::Exists(stem + ".dat") ? 0 : 1;
            EXPECT_TRUE(bytes.empty() || bytes.rfind(std::string(entry->id) + "|", 0) == 0)
                << name << " holds " << bytes;
            KesStatus status;
            DepotEntryFree(&status, nullptr, entry);
        }
    }
    std::cout << segments.size() << " entries left, " << withoutData << " without data, "
              << temporaries << " temporary files\n";
    EXPECT_LE(withoutData, kills + diedWriting);
    EXPECT_LE(temporaries, kills + diedWriting);

    // A forced purge clears everything, the dead writers' temporaries too.
    // A victim killed inside a walk leaves "ENUM" abandoned, which the first
    // purge meets and gives up on; the second goes through.
    KesStatus status;
    Depot *depot = nullptr;
    ASSERT_EQ(DepotNew(&status, &depot, dir.c_str(), 0)->code, 0);
    if (DepotPurge(&status, depot, 1)->code == KES_WAIT_FAILED)
        DepotPurge(&status, depot, 1);
    EXPECT_EQ(status.code, 0);
    DepotFree(&status, depot);
    EXPECT_TRUE(depot_test::Names(dir).empty());
}

}  // namespace
