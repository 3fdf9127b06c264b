// Entry operations on one depot: adding, completing, registering and
// removing entries, their files and their records, opening data files, and
// objects whose entry another handle removed. Every case runs with the
// directory index and without it (KORVO_DEPOT_WATCH=0).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_file.h"
#include "runtime/log_capture.hpp"

namespace {

using depot_test::Bytes;
using depot_test::Exists;
using depot_test::Names;
using depot_test::ReadBytes;
using depot_test::RecordOf;
using korvo::rt::LogCapture;

class Operations : public depot_test::IndexedDepotTest {
  protected:
    // A second handle on the same directory, as another process would have.
    Depot *Other() {
        KesStatus status;
        DepotNew(&status, &other_, dir_.path().c_str(), 0);
        EXPECT_EQ(status.code, 0);
        return other_;
    }
    ~Operations() override {
        KesStatus status;
        if (other_ != nullptr)
            DepotFree(&status, other_);
    }

    std::string Field(const std::string &path, const std::string &name) {
        const std::string record = RecordOf(path);
        const size_t open = record.find("<" + name + ">");
        const size_t close = record.find("</" + name + ">");
        if (open == std::string::npos || close == std::string::npos)
            return "(missing)";
        return record.substr(open + name.size() + 2, close - open - name.size() - 2);
    }

    Depot *other_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Index, Operations, ::testing::Bool(), depot_test::IndexRunName);

TEST_P(Operations, AddingMakesAPendingEntryFileAndAnEmptyDataFile) {
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes("\1\2\3"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->state, DepotStatePending);
    EXPECT_EQ(entry->reference_count, 0);
    EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.0.xml");
    EXPECT_EQ(std::string(entry->location), dir_ / "00000108.0.dat");
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"00000108.0.dat", "00000108.0.xml"}));
    EXPECT_EQ(ReadBytes(dir_ / "00000108.0.dat"), "");
    EXPECT_EQ(ReadBytes(entry->entryFile),
              "<<id>seg1</id><version>1.0</version><reference_count>0</reference_count>"
              "<state>0</state><checksum>0</checksum><deadline>0</deadline><location>" +
                  (dir_ / "00000108.0.dat") + "</location><properties>AQID</properties>>" +
                  std::string(1, '\0'));
    EXPECT_GE(DepotFindEntryIndex(depot_, "seg1", "1.0"), 0);
}

TEST_P(Operations, AnEntryTakesTheFirstNumberItsBucketLeavesFree) {
    // seg1/1.0, seg1/1.5 and seg1/1.7 share the bucket 00000108.
    Store("seg1", "1.0");
    Store("seg1", "1.5");
    Store("seg1", "1.7");
    EXPECT_TRUE(Exists(dir_ / "00000108.2.xml"));
    KesStatus status;
    DepotRemoveEntry(&status, depot_, DepotGetEntry(depot_, "seg1", "1.5"), 1);
    EXPECT_FALSE(Exists(dir_ / "00000108.1.xml"));
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.9", Bytes(""));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.1.xml");
    // Names that are not entry files of the bucket hold no number.
    depot_test::WriteBytes(dir_ / "00000108.3.xml.bak", "x");
    depot_test::WriteBytes(dir_ / "00000108.4.dat", "x");
    entry = DepotAddEntry(depot_, "seg1", "1.3", Bytes(""));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.3.xml");
}

TEST_P(Operations, ABucketNameThatIsNoReadableFileKeepsItsNumberAndIsPassedOver) {
    // Its number is not taken again, and the segment is looked for in the
    // bucket's other files; the name is reported once the index knows it.
    Store("seg1", "1.5");
    std::filesystem::create_directory(dir_ / "00000108.1.xml");
    LogCapture capture;
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.2.xml");
    EXPECT_EQ(capture.texts(1),
              std::vector<std::string>{"DepotGetEntry_internal error -4 opening file " +
                                       (dir_ / "00000108.1.xml") + "\n"});
    // Segments of other buckets do not read that name.
    capture.clear();
    EXPECT_NE(DepotAddEntry(depot_, "other", "2", Bytes("")), nullptr);
    EXPECT_TRUE(capture.texts(1).empty());
}

TEST_P(Operations, AnExistingSegmentIsReturnedOnlyWhenComplete) {
    DepotEntry *pending = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(pending, nullptr);
    {
        LogCapture capture;
        EXPECT_EQ(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
        EXPECT_EQ(capture.texts(1),
                  std::vector<std::string>{"DepotAddEntry unable to use entry due to in-progress "
                                           "operations\n"});
    }
    KesStatus status;
    DepotEntryChangeState(&status, depot_, pending, DepotStateInUse);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
    DepotEntryChangeState(&status, depot_, pending, DepotStateComplete);
    const std::string before = ReadBytes(pending->entryFile);
    EXPECT_EQ(DepotAddEntry(depot_, "seg1", "1.0", Bytes("other")), pending);
    EXPECT_EQ(ReadBytes(pending->entryFile), before);
}

TEST_P(Operations, CompletingCountsAHolderAndOnlyExtendsTheDeadline) {
    const std::string path = Store("seg1", "1.0", 1, 1000);
    EXPECT_EQ(Field(path, "state"), "1");
    EXPECT_EQ(Field(path, "reference_count"), "1");
    EXPECT_EQ(Field(path, "deadline"), "1000");
    EXPECT_EQ(DepotFindEntryIndex(depot_, "seg1", "1.0"), -1);  // released
    Store("seg1", "1.0", 1, 500);
    EXPECT_EQ(Field(path, "deadline"), "1000");
    EXPECT_EQ(Field(path, "reference_count"), "2");
    Store("seg1", "1.0", 1, 2000);
    EXPECT_EQ(Field(path, "deadline"), "2000");
    EXPECT_EQ(Field(path, "reference_count"), "3");
}

TEST_P(Operations, UnregisteringRemovesTheEntryWithItsLastHolder) {
    const std::string path = Store("seg1", "1.0", 2);
    const std::string data = dir_ / "00000108.0.dat";
    KesStatus status;
    DepotEntry *entry = DepotGetEntry(depot_, "seg1", "1.0");
    DepotEntryChangeState(&status, depot_, entry, DepotStateInUse);
    DepotUnregisterEntry(&status, depot_, entry, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(Field(path, "reference_count"), "1");
    EXPECT_EQ(Field(path, "state"), "1");
    EXPECT_TRUE(Exists(path) && Exists(data));
    // Unregistering saves the count even when the state stays complete.
    Store("seg1", "1.0");
    DepotUnregisterEntry(&status, depot_, DepotGetEntry(depot_, "seg1", "1.0"), 0);
    EXPECT_EQ(Field(path, "reference_count"), "1");

    DepotUnregisterEntry(&status, depot_, DepotGetEntry(depot_, "seg1", "1.0"), 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(Exists(data));
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);
    EXPECT_EQ(DepotFindEntryIndex(depot_, "seg1", "1.0"), -1);

    // A count of 0 goes below zero and the entry stays.
    DepotEntry *added = DepotAddEntry(depot_, "seg2", "1", Bytes(""));
    DepotUnregisterEntry(&status, depot_, added, 0);
    DepotEntry *again = DepotGetEntry(depot_, "seg2", "1");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->reference_count, -1);
    EXPECT_EQ(again->state, DepotStateComplete);
}

TEST_P(Operations, RemovalRespectsHoldersUnlessForced) {
    const std::string path = Store("seg1", "1.0");
    KesStatus status;
    DepotEntry *entry = DepotGetEntry(depot_, "seg1", "1.0");
    entry->reference_count = 3;
    DepotRemoveEntry(&status, depot_, entry, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(DepotFindEntryIndex(depot_, "seg1", "1.0"), -1);  // the object is released

    DepotRemoveEntry(&status, depot_, DepotGetEntry(depot_, "seg1", "1.0"), 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Names(dir_.path()).empty());
}

TEST_P(Operations, AnEntryStaysWhileItsDataFileCannotBeRemoved) {
    const std::string path = Store("seg1", "1.0");
    const std::string data = dir_ / "00000108.0.dat";
    std::filesystem::remove(data);
    std::filesystem::create_directories(data + "/inside");
    KesStatus status;
    LogCapture capture;
    DepotRemoveEntry(&status, depot_, DepotGetEntry(depot_, "seg1", "1.0"), 1);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(capture.texts(1).size(), 1u);
    EXPECT_EQ(capture.texts(1)[0].rfind(
                  "DepotRemoveEntry_internal exit.  Error -4 removing file " + data + "\n", 0),
              0u);
    EXPECT_TRUE(Exists(path));
    EXPECT_NE(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);
}

TEST_P(Operations, OpeningTheDataFileCountsAndStampsTheObject) {
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    KesStatus status;
    KesFile file = nullptr;
    DepotFileOpenForWrite(&status, depot_, entry, &file, 0);
    ASSERT_EQ(status.code, 0);
    ASSERT_NE(file, nullptr);
    KesFileWrite(&status, file, "0123456789", 10, nullptr);
    KesFileClose(&status, file);
    EXPECT_EQ(entry->openCount, 1);
    EXPECT_EQ(entry->writeCount, 1);
    EXPECT_GE(entry->modifyTime, before);
    EXPECT_EQ(entry->accessTime, entry->modifyTime);
    const uint32_t written = entry->modifyTime;

    DepotFileOpenForRead(&status, depot_, entry, &file);
    ASSERT_EQ(status.code, 0);
    char bytes[16] = {};
    size_t done = 0;
    KesFileRead(&status, file, bytes, sizeof bytes, &done);
    KesFileClose(&status, file);
    EXPECT_EQ(std::string(bytes, done), "0123456789");
    EXPECT_EQ(entry->openCount, 2);
    EXPECT_EQ(entry->writeCount, 1);

    uint64_t size = 0;
    DepotEntryGetFileSize(&status, depot_, entry, &size);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(entry->size, 10u);
    entry->size = 0;
    DepotSetSegmentSize(&status, depot_, entry);
    EXPECT_EQ(entry->size, 10u);

    // A resumed transfer that last wrote at `written` goes on at the size.
    uint64_t offset = 5;
    DepotSetCheckpointOffset(&status, depot_, "seg1", "1.0", written + 1, &offset);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(offset, 5u);
    DepotSetCheckpointOffset(&status, depot_, "seg1", "1.0", written, &offset);
    EXPECT_EQ(offset, 10u);
    DepotSetCheckpointOffset(&status, depot_, "seg9", "1.0", written, &offset);
    EXPECT_EQ(status.code, KES_END);
    EXPECT_FALSE(DepotEntryModified(depot_, "seg1", "1.0", written));
    EXPECT_TRUE(DepotEntryModified(depot_, "seg1", "1.0", written + 1));
    EXPECT_FALSE(DepotEntryModified(depot_, "seg9", "1.0", written + 1));

    DepotFileOpenForWrite(&status, depot_, entry, &file, 1);
    KesFileClose(&status, file);
    DepotEntryGetFileSize(&status, depot_, entry, &size);
    EXPECT_EQ(size, 0u);
}

TEST_P(Operations, AFailedOpenLeavesNoHandle) {
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    KesStatus status;
    // Removed as the depot removes files, so that the name goes at once on
    // every host, also while the depot holds the file.
    ASSERT_EQ(KesFileRemove(&status, entry->location)->code, KES_OK);
    KesFile file = nullptr;
    LogCapture capture;
    DepotFileOpenForWrite(&status, depot_, entry, &file, 0);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(entry->openCount, 0);
    EXPECT_EQ(capture.texts(0),
              std::vector<std::string>{"DepotFileOpenForWrite exit.  Error -4 opening segment data "
                                       "file\n"});
}

TEST_P(Operations, AHeldObjectFollowsItsFile) {
    DepotEntry *held = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(held, nullptr);
    // Another handle completes the segment: the next lookup refreshes the
    // object this handle holds instead of making a second one.
    DepotEntry *theirs = DepotGetEntry(Other(), "seg1", "1.0");
    KesStatus status;
    DepotCompleteEntry(&status, other_, theirs, 77);
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), held);
    EXPECT_EQ(held->state, DepotStateComplete);
    EXPECT_EQ(held->deadline, 77u);
    EXPECT_EQ(held->reference_count, 1);

    // Once the file holds another segment, the held object is dropped and
    // the bucket searched again.
    DepotRemoveEntry(&status, other_, DepotGetEntry(other_, "seg1", "1.0"), 1);
    DepotEntry *reused = DepotAddEntry(other_, "seg1", "1.5", Bytes(""));
    ASSERT_NE(reused, nullptr);
    EXPECT_EQ(std::string(reused->entryFile), dir_ / "00000108.0.xml");
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);
    EXPECT_EQ(DepotFindEntryIndex(depot_, "seg1", "1.0"), -1);
}

TEST_P(Operations, AnObjectWhoseEntryWasRemovedTouchesNoFileAnyMore) {
    DepotEntry *stale = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(stale, nullptr);
    KesStatus status;
    Depot *other = Other();
    DepotRemoveEntry(&status, other, DepotGetEntry(other, "seg1", "1.0"), 1);

    // Saving does not bring the entry back.
    DepotEntryChangeState(&status, depot_, stale, DepotStateInUse);
    EXPECT_EQ(status.code, KES_END);
    EXPECT_TRUE(Names(dir_.path()).empty());

    // A new segment takes the freed number; the stale object neither opens,
    // overwrites nor removes its files.
    DepotEntry *taker = DepotAddEntry(other_, "seg1", "1.5", Bytes(""));
    ASSERT_NE(taker, nullptr);
    ASSERT_EQ(std::string(taker->location), std::string(stale->location));
    KesFile file = nullptr;
    DepotFileOpenForWrite(&status, depot_, stale, &file, 1);
    EXPECT_EQ(status.code, KES_END);
    EXPECT_EQ(file, nullptr);
    DepotSaveEntry(&status, depot_, stale);
    EXPECT_EQ(status.code, KES_END);
    EXPECT_NE(RecordOf(taker->entryFile).find("<version>1.5</version>"), std::string::npos);
    DepotRemoveEntry(&status, depot_, stale, 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Exists(taker->entryFile));
    EXPECT_TRUE(Exists(taker->location));
}

TEST_P(Operations, ADamagedRecordOfTheSegmentGivesItsNumberToTheNewEntry) {
    depot_test::WriteBytes(dir_ / "00000108.0.xml", "<<id>seg1</id><version>1.0</version>>");
    LogCapture capture;
    EXPECT_EQ(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);
    EXPECT_EQ(capture.texts(1),
              std::vector<std::string>{"DepotGetEntry_internal call to DepotEntryNewFromToc "
                                       "returned null\n"});
    // Adding the segment again and again, from handle after handle, never
    // gives it a second entry file.
    for (int i = 0; i < 3; ++i) {
        Depot *other = nullptr;
        KesStatus status;
        DepotNew(&status, &other, dir_.path().c_str(), 0);
        DepotEntry *entry = DepotAddEntry(other, "seg1", "1.0", Bytes(""));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.0.xml");
        DepotFree(&status, other);
    }
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"00000108.0.dat", "00000108.0.xml"}));
}

}  // namespace
