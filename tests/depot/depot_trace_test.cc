// The trace logger and the depot's trace vocabulary: the entry and exit
// lines of every operation, and the lines that depart from the pattern,
// among them those of waits that meet a lock abandoned by a dead process.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_memory.h"
#include "runtime/log_capture.hpp"

namespace {

using depot_test::AbandonLock;
using depot_test::Bytes;
using depot_test::DepotTest;
using korvo::rt::LogCapture;
using korvo::rt::LogLine;

TEST(Logger, HandsFinishedLinesToTheLogWithTheirLevel) {
    LogCapture capture;
    Logger(3, "DepotNew entry\n");
    Logger(1, "DepotPurge error %d removing depot entry\n", -4);
    Logger(0, "%s error %d opening file %s\n", "DepotVerifyEntry_internal", 2, "C:\\100%s\\x");
    EXPECT_EQ(capture.lines(),
              (std::vector<LogLine>{{3, "DepotNew entry\n"},
                                    {1, "DepotPurge error -4 removing depot entry\n"},
                                    {0,
                                     "DepotVerifyEntry_internal error 2 opening file "
                                     "C:\\100%s\\x\n"}}));
}

TEST(Logger, DropsFormatsThatLeaveNoRoomAndCutsLongLines) {
    LogCapture capture;
    const std::string fits(973, 'f');
    Logger(2, "%s\n", std::string(972, 'f').c_str());  // a short format with a long argument
    Logger(2, (fits + "\n").c_str());                  // 974 characters
    Logger(2, (fits + "x\n").c_str());                 // 975 characters: dropped
    Logger(2, "%s\n", std::string(3000, 'y').c_str());
    const std::vector<std::string> texts = capture.texts(2);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], fits + "\n");
    EXPECT_EQ(texts[2], std::string(1022, 'y') + "\n");
}

class Vocabulary : public DepotTest {
  protected:
    // Runs `action` and returns the lines it logged.
    std::vector<LogLine> Trace(const std::function<void()> &action) {
        LogCapture capture;
        action();
        return capture.lines();
    }
    std::vector<std::string> Texts(const std::function<void()> &action) {
        std::vector<std::string> texts;
        for (const LogLine &line : Trace(action))
            texts.push_back(line.text);
        return texts;
    }
};

TEST_F(Vocabulary, EveryOperationOpensAndClosesItsTrace) {
    KesStatus status;
    DepotEntry *held = nullptr;
    DepotEntryEnum *walk = nullptr;
    uint64_t size = 0;
    uint32_t total = 0;
    Depot *second = nullptr;
    const std::pair<const char *, std::function<void()>> operations[] = {
        {"DepotNew", [&] { DepotNew(&status, &second, dir_.path().c_str(), 0); }},
        {"DepotFree", [&] { DepotFree(&status, second); }},
        {"DepotSetDir", [&] { DepotSetDir(&status, depot_, dir_.path().c_str()); }},
        {"DepotHashFunction", [&] { DepotHashFunction(&status, "x", &total); }},
        {"DepotFindBucket", [&] { KesMemoryFree(DepotFindBucket("a", "b")); }},
        {"DepotFindEntryIndex", [&] { DepotFindEntryIndex(depot_, "a", "b"); }},
        {"DepotAddEntry", [&] { held = DepotAddEntry(depot_, "seg1", "1.0", Bytes("p")); }},
        {"DepotGetEntry", [&] { DepotGetEntry(depot_, "seg1", "1.0"); }},
        {"DepotSaveEntry", [&] { DepotSaveEntry(&status, depot_, held); }},
        {"DepotEntryChangeState", [&] { DepotEntryChangeState(&status, depot_, held, 2); }},
        {"DepotFileOpenForRead",
         [&] {
             KesFile file = nullptr;
             DepotFileOpenForRead(&status, depot_, held, &file);
             KesFileClose(&status, file);
         }},
        {"DepotFileOpenForWrite",
         [&] {
             KesFile file = nullptr;
             DepotFileOpenForWrite(&status, depot_, held, &file, 0);
             KesFileClose(&status, file);
         }},
        {"DepotSetSegmentSize", [&] { DepotSetSegmentSize(&status, depot_, held); }},
        {"DepotEntryGetFileSize", [&] { DepotEntryGetFileSize(&status, depot_, held, &size); }},
        {"DepotSetCheckpointOffset",
         [&] { DepotSetCheckpointOffset(&status, depot_, "seg1", "1.0", 0, &size); }},
        {"DepotEntryModified", [&] { DepotEntryModified(depot_, "seg1", "1.0", 0); }},
        {"DepotCompleteEntry", [&] { DepotCompleteEntry(&status, depot_, held, 5); }},
        {"DepotReserveDiskSpace", [&] { DepotReserveDiskSpace(&status, depot_, 1); }},
        {"DepotUnreserveDiskSpace", [&] { DepotUnreserveDiskSpace(depot_, 1); }},
        {"DepotAdjustReservedSpace",
         [&] { DepotAdjustReservedSpace(&status, depot_, "seg1", "1.0"); }},
        {"DepotGetPermStorage", [&] { DepotGetPermStorage(&status, depot_, &total); }},
        {"ConvertDataSize", [&] { ConvertDataSize(1); }},
        {"DepotEnumNew", [&] { DepotEnumNew(&status, depot_, &walk); }},
        {"DepotEntryEnumNextElement", [&] { held = DepotEntryEnumNextElement(walk); }},
        {"DepotEntryEnumDelete", [&] { DepotEntryEnumDelete(&status, walk); }},
        {"DepotFreeEntry", [&] { DepotFreeEntry(&status, depot_, held); }},
        {nullptr, [&] { held = DepotGetEntry(depot_, "seg1", "1.0"); }},
        {"DepotUnregisterEntry", [&] { DepotUnregisterEntry(&status, depot_, held, 0); }},
        {nullptr, [&] { held = DepotAddEntry(depot_, "seg2", "1", Bytes("")); }},
        {"DepotRemoveEntry", [&] { DepotRemoveEntry(&status, depot_, held, 0); }},
        {"DepotEntryNew", [&] { held = DepotEntryNew(); }},
        {"DepotEntrySetProperties",
         [&] {
             char *text = nullptr;
             uint32_t length = 0;
             DepotEntrySetProperties(&status, depot_, held, &text, &length);
             KesMemoryFree(text);
         }},
        {"DepotEntryFree", [&] { DepotEntryFree(&status, depot_, held); }},
        {"DepotEntryNewFromToc",
         [&] {
             DepotEntryNewFromToc(
                 depot_,
                 "<<id></id><version></version><reference_count></reference_count><state></state>"
                 "<checksum></checksum><deadline></deadline><location></location>"
                 "<properties></properties>>");
         }},
        {"DepotPurge", [&] { DepotPurge(&status, depot_, 1); }},
        {"DepotPurgeExpiredEntries", [&] { DepotPurgeExpiredEntries(&status, depot_); }},
    };
    for (const auto &[name, action] : operations) {
        if (name == nullptr) {  // a step that prepares the next one
            action();
            continue;
        }
        const std::vector<LogLine> lines = Trace(action);
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_EQ(lines.front(), (LogLine{3, std::string(name) + " entry\n"})) << name;
        EXPECT_EQ(lines.back(), (LogLine{3, std::string(name) + " exit\n"})) << name;
        for (const LogLine &line : lines)
            EXPECT_EQ(line.level, 3) << name << ": " << line.text;
    }
}

TEST_F(Vocabulary, InternalStepsTraceUnderTheirOwnNames) {
    using Texts_ = std::vector<std::string>;
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    KesStatus status;
    EXPECT_EQ(Texts([&] { DepotCompleteEntry(&status, depot_, entry, 1); }),
              (Texts_{"DepotCompleteEntry entry\n", "DepotSaveEntry_internal entry\n",
                      "DepotEntrySetProperties entry\n", "DepotEntrySetProperties exit\n",
                      "DepotSaveEntry_internal exit\n", "DepotFreeEntry entry\n",
                      "DepotFreeEntry_internal entry\n", "DepotFreeEntry_internal exit\n",
                      "DepotFreeEntry exit\n", "DepotCompleteEntry exit\n"}));
    const std::string record = depot_test::RecordOf(dir_ / "00000108.0.xml");
    EXPECT_EQ(Texts([&] { DepotEntryNewFromToc(depot_, record.c_str()); }),
              (Texts_{"DepotEntryNewFromToc entry\n", "DepotEntryNew entry\n",
                      "DepotEntryNew exit\n", "DepotEntryNewFromToc exit\n"}));
    // A failed parse ends without an exit line.
    EXPECT_EQ(
        Texts([&] { DepotEntryNewFromToc(depot_, "<<id>x</id>>"); }),
        (Texts_{"DepotEntryNewFromToc entry\n", "DepotEntryNew entry\n", "DepotEntryNew exit\n"}));
    // The lookup of a held entry finds it in the list and reads only its file.
    ASSERT_NE(DepotGetEntry(depot_, "seg1", "1.0"), nullptr);
    EXPECT_EQ(Texts([&] { DepotGetEntry(depot_, "seg1", "1.0"); }),
              (Texts_{"DepotGetEntry entry\n", "DepotGetEntry_internal entry\n",
                      "DepotFindEntryIndex entry\n", "DepotFindEntryIndex exit\n",
                      "DepotGetEntry_internal exit\n", "DepotGetEntry exit\n"}));
}

TEST_F(Vocabulary, LinesThatDepartFromThePattern) {
    KesStatus status;
    EXPECT_EQ(Trace([&] { DepotFree(&status, nullptr); }),
              (std::vector<LogLine>{{3, "DepotFree entry\n"},
                                    {0, "DepotFree exit.  Invalid parameter\n"}}));
    EXPECT_EQ(status.code, 0);

    const std::vector<LogLine> notice =
        Trace([&] { DepotAdjustReservedSpace(&status, depot_, "seg9", "2.0"); });
    EXPECT_EQ(status.code, 0);
    EXPECT_NE(
        std::find(notice.begin(), notice.end(),
                  LogLine{2, "DepotAdjustReservedSpace unable to find depot entry seg9^2.0\n"}),
        notice.end());

    // An iterator that cannot be made over a missing list.
    KesList1 *entries = depot_->entries;
    depot_->entries = nullptr;
    EXPECT_EQ(
        Trace([&] { EXPECT_EQ(DepotFindEntryIndex(depot_, "a", "b"), -1); }),
        (std::vector<LogLine>{{3, "DepotFindEntryIndex entry\n"},
                              {0, "DepotFindEntryIndex exit.  Error 21(0) obtaining lock\n"}}));
    depot_->entries = entries;
}

// The final release of DepotPurgeExpiredEntries reports its own spelling.
// The handle's lock is swapped for one this thread does not hold while the
// walk ends, so that the release fails.
struct LockSwap {
    Depot *depot;
    KesSem real;
    KesSem stranger;
    bool swapped;
    std::vector<LogLine> lines;
};

void SwapAtWalkEnd(void *context, int32_t level, const char *text) {
    auto *swap = static_cast<LockSwap *>(context);
    swap->lines.push_back(LogLine{level, text});
    if (!swap->swapped && std::string(text) == "DepotEntryEnumDelete exit\n") {
        swap->real = swap->depot->depotLock;
        swap->depot->depotLock = swap->stranger;
        swap->swapped = true;
    }
}

TEST_F(Vocabulary, TheExpiryPurgeSpellsItsLastReleaseItsOwnWay) {
    LockSwap swap{depot_, nullptr, nullptr, false, {}};
    KesStatus status;
    KesInitSem(&status, &swap.stranger, nullptr);
    KesPostSem(&status, &swap.stranger);  // held by no thread
    log_set_capture(SwapAtWalkEnd, &swap);
    DepotPurgeExpiredEntries(&status, depot_);
    log_set_capture(nullptr, nullptr);
    ASSERT_TRUE(swap.swapped);
    depot_->depotLock = swap.real;
    KesPostSem(&status, &depot_->depotLock);  // the purge's own hold
    EXPECT_EQ(status.code, 0);
    KesCloseSem(&status, &swap.stranger);
    EXPECT_NE(std::find(swap.lines.begin(), swap.lines.end(),
                        LogLine{1, "DepotPurgeExpiredEntris error -4 releasing lock\n"}),
              swap.lines.end());
}

// What an operation logs, and whether it goes on, when the lock it waits
// for was abandoned by a process that died holding it.
TEST_F(Vocabulary, WaitsThatMeetAnAbandonedLock) {
    KesStatus status;
#if defined(_WIN32)
    // A Windows mutex lives only while a handle is open on it. The depot
    // keeps DEPOT and ENTRY open; ENUM is opened per walk, so an enumerator
    // elsewhere is kept here, or the child's ENUM would go with it.
    KesSem otherWalk = nullptr;
    KesInitSem(&status, &otherWalk, "ENUM");
    ASSERT_EQ(status.code, 0);
    KesPostSem(&status, &otherWalk);
#endif
    const auto run = [&](const char *lock, const std::vector<LogLine> &expected, bool goesOn,
                         const std::function<bool()> &operation) {
        AbandonLock(lock);
        std::vector<LogLine> reported;
        bool wentOn = false;
        for (const LogLine &line : Trace([&] { wentOn = operation(); }))
            if (line.level < 3)
                reported.push_back(line);
        EXPECT_EQ(reported, expected) << lock << " " << (expected.empty() ? "" : expected[0].text);
        EXPECT_EQ(wentOn, goesOn) << lock;
        // Whoever met the abandoned lock let it go again: the next wait
        // takes it plainly.
        for (const char *name : {"DEPOT", "ENTRY", "ENUM"}) {
            KesSem sem = nullptr;
            KesInitSem(&status, &sem, name);
            EXPECT_EQ(status.code, 0) << lock << " then " << name;
            KesPostSem(&status, &sem);
            KesCloseSem(&status, &sem);
        }
    };

    run("DEPOT", {{1, "DepotAddEntry continue. Ignore WAIT_TIMEOUT\n"}}, true,
        [&] { return DepotAddEntry(depot_, "seg1", "1.0", Bytes("")) != nullptr; });
    run("DEPOT", {{0, "DepotGetEntry exit.  Error -2(0) obtaining lock\n"}}, false,
        [&] { return DepotGetEntry(depot_, "seg1", "1.0") != nullptr; });
    DepotEntry *held = DepotGetEntry(depot_, "seg1", "1.0");
    run("ENTRY", {{0, "DepotSaveEntry exit.  Error -2(0) obtaining lock\n"}}, false,
        [&] { return DepotSaveEntry(&status, depot_, held)->code == 0; });
    run("DEPOT", {{0, "DepotUnregisterEntry exit.  Error -2 obtaining depot lock\n"}}, false,
        [&] { return DepotUnregisterEntry(&status, depot_, held, 0)->code == 0; });
    run("ENTRY", {{0, "DepotUnregisterEntry exit.  Error -2 obtaining entry lock\n"}}, false,
        [&] { return DepotUnregisterEntry(&status, depot_, held, 0)->code == 0; });
    // A pending entry whose writer let it go is taken over by the next add,
    // which goes on past an abandoned entry lock as past its own.
    DepotEntry *left = DepotAddEntry(depot_, "seg3", "1.0", Bytes(""));
    ASSERT_NE(left, nullptr);
    const std::string leftFile = left->entryFile;
    DepotFreeEntry(&status, depot_, left);
    run("ENTRY",
        {{1, "DepotAddEntry continue. Ignore WAIT_TIMEOUT\n"},
         {1, "DepotAddEntry taking over entry " + leftFile + " of a writer that ended\n"}},
        true, [&] { return DepotAddEntry(depot_, "seg3", "1.0", Bytes("")) != nullptr; });
    run("ENTRY", {{1, "DepotCompleteEntry entry continue. Ignore WAIT_TIMEOUT\n"}}, true,
        [&] { return DepotCompleteEntry(&status, depot_, held, 0)->code == 0; });
    run("ENTRY", {{1, "DepotFree continue. Ignore WAIT_TIMEOUT\n"}}, true, [&] {
        return DepotFreeEntry(&status, depot_, DepotGetEntry(depot_, "seg1", "1.0"))->code == 0;
    });
    run("ENUM", {{0, "DepotEnumNew error -2 creating lock\n"}}, false, [&] {
        DepotEntryEnum *walk = nullptr;
        return DepotEnumNew(&status, depot_, &walk)->code == 0 && walk != nullptr;
    });
    run("ENUM",
        {{0, "DepotEnumNew error -2 creating lock\n"},
         {0, "DepotPurge exit.  Error -2 creating enumerator\n"}},
        false, [&] { return DepotPurge(&status, depot_, 0)->code == 0; });
    run("DEPOT", {{1, "DepotPurgeExpiredEntries entry continue. Ignore WAIT_TIMEOUT\n"}}, true,
        [&] { return DepotPurgeExpiredEntries(&status, depot_)->code == 0; });
    // A pending entry, which the purge looks at and keeps.
    EXPECT_NE(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
    run("ENTRY", {{1, "DepotPurgeExpiredEntries error -2(0) obtaining lock\n"}}, true,
        [&] { return DepotPurgeExpiredEntries(&status, depot_)->code == 0; });

    Depot *second = nullptr;
    run("DEPOT", {{1, "DepotNew depot continue. Ignore WAIT_TIMEOUT\n"}}, true,
        [&] { return DepotNew(&status, &second, dir_.path().c_str(), 0)->code == 0 && second; });
    run("DEPOT", {{1, "DepotFree continue. Ignore WAIT_TIMEOUT\n"}}, true,
        [&] { return DepotFree(&status, second)->code == 0; });
    run("ENTRY", {{1, "DepotNew entry continue. Ignore WAIT_TIMEOUT\n"}}, true,
        [&] { return DepotNew(&status, &second, dir_.path().c_str(), 0)->code == 0 && second; });
    DepotFree(&status, second);
#if defined(_WIN32)
    KesCloseSem(&status, &otherWalk);
#endif
}

}  // namespace
