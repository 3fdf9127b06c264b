// Processes that share a depot directory: every lookup sees what another
// process last wrote, whether the directory index serves it or the
// directory is listed, and a process forked from one that uses the index
// keeps its own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "tests/kes/kes_test_process.hpp"

namespace {

using depot_test::Bytes;
using depot_test::RecordOf;
using korvo::test::Child;

class AcrossProcesses : public depot_test::IndexedDepotTest {
  protected:
    // Runs `body` with a depot handle of its own in a child process; the
    // child's result is body's.
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
    ::alarm(60);
    const auto work = [&](int thread) {
        KesStatus status;
        Depot *depot = nullptr;
        DepotNew(&status, &depot, dir_.path().c_str(), 0);
        for (int i = 0; i < 300; ++i) {
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
    ::alarm(0);
}

}  // namespace
