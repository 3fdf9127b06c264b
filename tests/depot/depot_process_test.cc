// Processes that share a depot directory: every lookup sees what another
// process last wrote, whether the directory index serves it or the
// directory is listed, and a process forked from one that uses the index
// keeps its own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using depot_test::Bytes;
using depot_test::RecordOf;
using korvo::test::Child;

class AcrossProcesses : public depot_test::IndexedDepotTest {
  protected:
    // Runs `body` with a depot handle of its own in a child process; the
    // child's result is body's. The child is a copy of this process, which
    // already holds the directory's index: what it proves is that a copy
    // opens an index of its own instead of trusting the one it inherited,
    // which only fork can show.
    int InChild(const std::function<int(Depot *)> &body) {
        Child child([&] {
            KesStatus status;
            Depot *depot = nullptr;
            DepotNew(&status, &depot, dir_.path().c_str(), 0);
            if (status.code != 0)
                return 100;
            const int result = body(depot);
            DepotFree(&status, depot);
            return result;
        });
        return child.wait();
    }
};

INSTANTIATE_TEST_SUITE_P(Index, AcrossProcesses, ::testing::Bool(), depot_test::IndexRunName);

TEST_P(AcrossProcesses, LookupsSeeWhatAnotherProcessLastWrote) {
    if (!korvo::test::forkingHost())
        GTEST_SKIP() << "this host does not fork";
    KesStatus status;
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);  // the index knows the directory

    // Another process takes number 0 of the bucket: a new entry here must
    // not take it again.
    EXPECT_EQ(InChild([](Depot *depot) {
                  DepotEntry *entry = DepotAddEntry(depot, "seg1", "1.5", Bytes(""));
                  if (entry == nullptr)
                      return 1;
                  KesStatus done;
                  return DepotCompleteEntry(&done, depot, entry, 0)->code;
              }),
              0);
    DepotEntry *held = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(std::string(held->entryFile), dir_ / "00000108.1.xml");

    // It removes its entry: the number is free again.
    EXPECT_EQ(
        InChild([](Depot *depot) {
            KesStatus done;
            return DepotRemoveEntry(&done, depot, DepotGetEntry(depot, "seg1", "1.5"), 1)->code;
        }),
        0);
    DepotEntry *third = DepotAddEntry(depot_, "seg1", "1.7", Bytes(""));
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(std::string(third->entryFile), dir_ / "00000108.0.xml");

    // It completes the entry this process holds: the held object follows.
    EXPECT_EQ(InChild([](Depot *depot) {
                  DepotEntry *entry = DepotGetEntry(depot, "seg1", "1.0");
                  KesStatus done;
                  return entry == nullptr ? 1 : DepotCompleteEntry(&done, depot, entry, 99)->code;
              }),
              0);
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), held);
    EXPECT_EQ(held->state, DepotStateComplete);
    EXPECT_EQ(held->deadline, 99u);

    // A writer that rewrites the file in place is seen too.
    const std::string path = held->entryFile;
    EXPECT_EQ(InChild([&](Depot *) {
                  std::string record = RecordOf(path);
                  record.replace(record.find("<checksum>0<"), 12, "<checksum>7<");
                  FILE *file = std::fopen(path.c_str(), "r+");
                  std::fwrite(record.data(), 1, record.size(), file);
                  return std::fclose(file);
              }),
              0);
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), held);
    EXPECT_EQ(held->checksum, 7);

    // A process that adds a completed segment gets the entry from its file.
    EXPECT_EQ(InChild([&](Depot *depot) {
                  DepotEntry *entry = DepotAddEntry(depot, "seg1", "1.0", Bytes(""));
                  return entry != nullptr && entry->state == DepotStateComplete &&
                                 entry->checksum == 7 && path == entry->entryFile
                             ? 0
                             : 1;
              }),
              0);
    DepotFreeEntry(&status, depot_, held);
}

}  // namespace

namespace {

// Threads of one process, each with a handle of its own, take the depot's
// locks and the process's directory index in every order their operations
// meet them; the test ends (the watchdog fails it otherwise).
TEST_P(AcrossProcesses, ThreadsOfOneProcessShareTheIndexWithoutDeadlock) {
    korvo::test::Watchdog watchdog(60);
#if defined(_WIN32)
    // Under Wine two threads that share a depot manage some 20 operations a
    // second: fewer rounds keep the test well within its watchdog.
    constexpr int kRounds = 100;
#else
    constexpr int kRounds = 300;
#endif
    const auto work = [&](int thread) {
        KesStatus status;
        Depot *depot = nullptr;
        DepotNew(&status, &depot, dir_.path().c_str(), 0);
        for (int i = 0; i < kRounds; ++i) {
            const std::string id = "seg" + std::to_string((i * 7 + thread) % 20);
            if (DepotEntry *entry = DepotAddEntry(depot, id.c_str(), "1.0", Bytes(id)))
                DepotCompleteEntry(&status, depot, entry, 0);
            DepotEntry *found = i % 3 == 0 ? DepotGetEntry(depot, id.c_str(), "1.0") : nullptr;
            if (found != nullptr)
                DepotRemoveEntry(&status, depot, found, 1);
            if (i % 50 == 0)
                DepotPurgeExpiredEntries(&status, depot);
        }
        DepotFree(&status, depot);
    };
    std::thread first(work, 0), second(work, 1);
    first.join();
    second.join();
}

}  // namespace

namespace {

// Opens the depot arg(0), waits for a byte on end 0, then completes
// seg1/1.0 a hundred times: the exit status is the number of failures.
KORVO_CHILD_BODY(Complete100) {
    KesStatus status;
    Depot *depot = nullptr;
    if (DepotNew(&status, &depot, child.arg(0).c_str(), 0)->code != 0)
        return 100;
    child.end(0).receive();
    int failures = 0;
    for (int i = 0; i < 100; ++i) {
        DepotEntry *entry = DepotGetEntry(depot, "seg1", "1.0");
        failures += entry == nullptr || DepotCompleteEntry(&status, depot, entry, 0)->code != 0;
    }
    DepotFree(&status, depot);
    return failures;
}

// The record of the file arg(0) with its checksum set to `checksum`.
std::string WithChecksum(const std::string &path, const std::string &checksum) {
    std::string record = RecordOf(path);
    const size_t at = record.find("<checksum>") + 10;
    record.replace(at, record.find('<', at) - at, checksum);
    return record;
}

// Truncates the file arg(0) and writes its record back with the checksum
// arg(1).
KORVO_CHILD_BODY(RewriteChecksum) {
    const std::string record = WithChecksum(child.arg(0), child.arg(1));
    const int fd = ::open(child.arg(0).c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0 || ::write(fd, record.data(), record.size()) < 0)
        return 1;
    return ::close(fd);
}

// Writes the record of the file arg(0) back in place with the checksum 44,
// says so on end 0 and keeps the file open until a byte on end 1.
KORVO_CHILD_BODY(RewriteAndHoldOpen) {
    const std::string record = WithChecksum(child.arg(0), "44");
    const int fd = ::open(child.arg(0).c_str(), O_WRONLY);
    if (fd < 0 || ::write(fd, record.data(), record.size()) < 0)
        return 1;
    child.end(0).send();
    child.end(1).receive();
    return ::close(fd);
}

// Two processes count holders of one segment at the same time: every
// completion counts, whichever process read the entry last.
TEST_P(AcrossProcesses, NoCompletionIsLostBetweenProcesses) {
    Store("seg1", "1.0");
    korvo::test::Pipe go;
    const korvo::test::ChildStart complete100{.args = {dir_.path()}, .ends = {go.readEnd()}};
    Child first("Complete100", complete100), second("Complete100", complete100);
    go.send();
    go.send();
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    DepotEntry *entry = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->reference_count, 201);
}

// Writers that change an entry file in place, as another program may: the
// next lookup reads what they wrote, whether the object is held or not.
TEST_P(AcrossProcesses, InPlaceWritesAreSeenByTheNextLookup) {
    const std::string path = Store("seg1", "1.0");
    // Truncates `through` and writes the record back with another checksum,
    // in another process.
    const auto rewrite = [](const std::string &through, const std::string &checksum) {
        Child child("RewriteChecksum", {.args = {through, checksum}});
        return child.wait();
    };
    DepotEntry *held = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(held, nullptr);

    // Truncated and rewritten through the entry's own name, closed.
    ASSERT_EQ(rewrite(path, "11"), 0);
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), held);
    EXPECT_EQ(held->checksum, 11);

    // Through a hard link made in another directory.
    depot_test::ScratchDir elsewhere;
    const std::string link = elsewhere / "link.xml";
    std::filesystem::create_hard_link(path, link);
    ASSERT_EQ(rewrite(link, "22"), 0);
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), held);
    EXPECT_EQ(held->checksum, 22);
    KesStatus status;
    DepotFreeEntry(&status, depot_, held);
    ASSERT_EQ(rewrite(link, "33"), 0);
    held = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->checksum, 33);
    DepotFreeEntry(&status, depot_, held);

    // Through a descriptor that stays open while this process looks.
    korvo::test::Pipe seen, done;
    Child writer("RewriteAndHoldOpen", {.args = {path}, .ends = {seen.writeEnd(), done.readEnd()}});
    ASSERT_EQ(seen.receive(), 'x');
    held = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->checksum, 44);
    done.send();
    EXPECT_EQ(writer.wait(), 0);

    // Emptied: the segment is gone.
    std::filesystem::resize_file(path, 0);
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);
}

int Watches() {
    return korvo::test::watchedDirectoryCount();
}

TEST_P(AcrossProcesses, ADirectorysIndexGoesWithItsLastHandle) {
#if KORVO_DIR_WATCH_PLAIN
    const int watching = 0;  // the build's watcher watches nothing
#else
    const int watching = GetParam() ? 1 : 0;
#endif
    if (Watches() < 0)
        GTEST_SKIP() << "this host keeps no count of the directories a process watches";
    Store("seg1", "1.0");
    EXPECT_EQ(Watches(), watching);
    Depot *second = nullptr;
    KesStatus status;
    DepotNew(&status, &second, dir_.path().c_str(), 0);
    EXPECT_NE(DepotGetEntry(second, "seg1", "1.0"), nullptr);
    DepotFree(&status, second);
    EXPECT_EQ(Watches(), watching);
    DepotFree(&status, depot_);
    depot_ = nullptr;
    EXPECT_EQ(Watches(), 0);
    DepotNew(&status, &depot_, dir_.path().c_str(), 0);
}

}  // namespace
