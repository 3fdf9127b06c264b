// Walking the depot, the purges, space accounting, and the handle's
// directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <string>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_file.h"
#include "kes/kes_string.h"
#include "runtime/log_capture.hpp"

namespace {

using depot_test::Bytes;
using depot_test::DepotTest;
using depot_test::Exists;
using depot_test::Names;
using depot_test::Record;
using depot_test::WriteBytes;
using korvo::rt::LogCapture;

class Walking : public DepotTest {
  protected:
    // Every entry the walk returns, by id; fails on a walk that cannot start.
    std::vector<std::string> Walk() {
        KesStatus status;
        DepotEntryEnum *walk = nullptr;
        DepotEnumNew(&status, depot_, &walk);
        EXPECT_EQ(status.code, 0);
        std::vector<std::string> ids;
        if (walk == nullptr)
            return ids;
        while (DepotEntry *entry = DepotEntryEnumNextElement(walk)) {
            ids.push_back(entry->id);
            EXPECT_EQ(DepotFindEntryIndex(depot_, entry->id, entry->version) >= 0, true);
            EXPECT_TRUE(Exists(entry->entryFile));
        }
        DepotEntryEnumDelete(&status, walk);
        EXPECT_EQ(status.code, 0);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // Puts an entry with its record and a data file of `bytes` bytes into
    // the depot by hand.
    void Put(const std::string &name, const std::string &id, int state, int references,
             long long deadline, size_t bytes = 0) {
        const std::string data = dir_ / (name + ".dat");
        WriteBytes(dir_ / (name + ".xml"), Record(id, data, state, references, deadline));
        WriteBytes(data, std::string(bytes, 'd'));
    }
};

TEST_F(Walking, ReturnsEveryReadableEntryFileOnce) {
    EXPECT_TRUE(Walk().empty());
    Put("00000108.0", "a", 1, 0, 0);
    Put("00000200.3", "b", 1, 0, 0);
    WriteBytes(dir_ / "notes.txt", "not an entry");
    WriteBytes(dir_ / "list.xml", "<list><item/></list>");
    LogCapture capture;
    EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(capture.texts(1), std::vector<std::string>{"DepotEntryEnumNextElement null returned "
                                                         "by DepotEntryNewFromToc\n"});
}

TEST_F(Walking, NamesThatAreNoReadableFilesArePassedOver) {
    Put("00000108.0", "a", 1, 0, 0);
    std::filesystem::create_directory(dir_ / "broken.xml");
    const bool linked = korvo::test::makeSymbolicLink(dir_ / "00000108.0.xml", dir_ / "linked.xml");
    LogCapture capture;
    EXPECT_EQ(Walk(), std::vector<std::string>{"a"});
    std::vector<std::string> lines = capture.texts(1);
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected{"DepotEntryEnumNextElement error -4 opening file " +
                                      (dir_ / "broken.xml") + "\n"};
    if (linked)
        expected.push_back("DepotEntryEnumNextElement error -4 opening file " +
                           (dir_ / "linked.xml") + "\n");
    EXPECT_EQ(lines, expected);
    if (!linked)
        GTEST_SKIP() << "this host makes no symbolic links: the link's part is unchecked";
}

TEST_F(Walking, TheExpiryPurgeRemovesCompleteEntriesPastTheirDeadline) {
    const long long now = std::time(nullptr);
    Put("00000001.0", "past", 1, 2, now - 1);
    Put("00000002.0", "future", 1, 0, now + 3600);
    Put("00000003.0", "inuse", 2, 0, 0);
    Put("00000004.0", "orphan", 0, 0, 0);              // pending, and no writer holds it
    Put("00000005.0", "wrapped", 1, 0, 4294967295LL);  // written as -1
    DepotEntry *pending = DepotAddEntry(depot_, "pending", "1", Bytes(""));  // its writer lives
    ASSERT_NE(pending, nullptr);
    KesStatus status;
    DepotPurgeExpiredEntries(&status, depot_);
    EXPECT_EQ(status.code, 0);
    EXPECT_FALSE(Exists(dir_ / "00000001.0.xml"));
    EXPECT_FALSE(Exists(dir_ / "00000001.0.dat"));
    EXPECT_FALSE(Exists(dir_ / "00000004.0.xml"));
    EXPECT_EQ(Walk(), (std::vector<std::string>{"future", "inuse", "pending", "wrapped"}));
    EXPECT_EQ(Names(dir_.path()).size(), 8u);
}

TEST_F(Walking, ThePurgeKeepsHeldEntriesUnlessForced) {
    Put("00000001.0", "free", 1, 0, 0);
    Put("00000002.0", "held", 1, 1, 0);
    KesStatus status;
    DepotPurge(&status, depot_, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"00000002.0.dat", "00000002.0.xml"}));
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Names(dir_.path()).empty());
}

KORVO_CHILD_BODY(EndAtOnce) {
    return 0;
}

// A temporary file named after a process that has ended is a dead writer's.
TEST_F(Walking, PurgesClearTemporaryFilesOfWritersThatDied) {
    korvo::test::Child child("EndAtOnce");
    ASSERT_EQ(child.wait(), 0);
    const std::string dead = "00000108.0.xml." + std::to_string(child.processId()) + ".1.tmp";
    const std::string alive = "00000108.0.xml." + std::to_string(::getpid()) + ".1.tmp";
    WriteBytes(dir_ / dead, "half a rec");
    WriteBytes(dir_ / alive, "half a rec");
    WriteBytes(dir_ / "other.1.2.tmp", "x");  // not a temporary of an entry file
    EXPECT_TRUE(Walk().empty());              // neither is taken for an entry file
    KesStatus status;
    DepotPurgeExpiredEntries(&status, depot_);
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{alive, "other.1.2.tmp"}));
}

TEST_F(Walking, PermanentStorageCountsTheDataFilesInsideTheDepot) {
    Put("00000001.0", "a", 1, 0, 0, 1500);
    Put("00000002.0", "b", 1, 0, 0, 1024);
    Put("00000003.0", "c", 1, 0, 0, 0);
    WriteBytes(dir_ / "00000004.0.xml", Record("d", "/elsewhere/x.dat"));
    uint32_t total = 5;  // added to
    KesStatus status;
    DepotGetPermStorage(&status, depot_, &total);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(total, 5u + 2 + 1 + 0);
}

// Which data files lie in the depot follows the host's rules for paths:
// their bytes on POSIX hosts; on Windows a location that spells the
// directory in other cases (the drive letter's too) or with the other
// separator names the same files.
TEST_F(Walking, PermanentStorageTellsPathsApartAsTheHostDoes) {
    Put("00000001.0", "a", 1, 0, 0, 1500);
    std::string respelled = dir_.path();
    for (char &c : respelled) {
        const auto letter = static_cast<unsigned char>(c);
        c = c == '/'                    ? '\\'
            : c == '\\'                 ? '/'
            : std::isupper(letter) != 0 ? static_cast<char>(std::tolower(letter))
                                        : static_cast<char>(std::toupper(letter));
    }
    WriteBytes(dir_ / "00000002.0.xml", Record("b", respelled + "/00000001.0.dat"));
    uint32_t total = 0;
    KesStatus status;
    DepotGetPermStorage(&status, depot_, &total);
    EXPECT_EQ(status.code, 0);
#if defined(_WIN32)
    EXPECT_EQ(total, 2u + 2) << respelled;  // both spellings are the depot's
#else
    EXPECT_EQ(total, 2u) << respelled;  // another spelling is another directory
#endif
}

TEST(Space, KilobytesRoundUp) {
    for (const auto &[bytes, kb] :
         std::vector<std::pair<uint64_t, uint64_t>>{{0, 0},
                                                    {1, 1},
                                                    {1024, 1},
                                                    {1025, 2},
                                                    {1048576, 1024},
                                                    {1048577, 1025},
                                                    {1ull << 42, 1ull << 32}})
        EXPECT_EQ(ConvertDataSize(bytes), kb) << bytes;
}

TEST_F(Walking, ReservationsCountAgainstTheLimitOnly) {
    KesStatus status;
    Depot *limited = nullptr;
    DepotNew(&status, &limited, dir_.path().c_str(), 2000);
    DepotReserveDiskSpace(&status, limited, 1500);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(limited->availableKb, 500u);
    DepotReserveDiskSpace(&status, limited, 600);
    EXPECT_EQ(status.code, KES_NO_SPACE);
    EXPECT_EQ(limited->availableKb, 500u);
    DepotUnreserveDiskSpace(limited, 1500);
    EXPECT_EQ(limited->availableKb, 2000u);
    DepotUnreserveDiskSpace(limited, 100);
    EXPECT_EQ(limited->availableKb, 2100u);
    EXPECT_EQ(limited->limitKb, 2000u);
    DepotFree(&status, limited);

    DepotReserveDiskSpace(&status, depot_, 4000000000u);  // no limit, no account
    EXPECT_EQ(status.code, 0);
    DepotUnreserveDiskSpace(depot_, 7);
    EXPECT_EQ(depot_->availableKb, 0u);
}

TEST_F(Walking, AdjustingGivesBackWhatTheSegmentDidNotUse) {
    KesStatus status;
    Depot *limited = nullptr;
    DepotNew(&status, &limited, dir_.path().c_str(), 100);
    DepotEntry *entry = DepotAddEntry(limited, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    entry->size = 10240;
    const auto adjust = [&](size_t bytes) {
        WriteBytes(entry->location, std::string(bytes, 'x'));
        limited->availableKb = 0;
        DepotAdjustReservedSpace(&status, limited, "seg1", "1.0");
        EXPECT_EQ(status.code, 0);
        return limited->availableKb;
    };
    EXPECT_EQ(adjust(4096), 6u);
    EXPECT_EQ(adjust(4095), 7u);
    EXPECT_EQ(adjust(10240), 0u);
    EXPECT_EQ(adjust(20000), 0u);  // a larger file gives nothing back
    // Removed as the depot removes files, so that no held handle keeps the
    // name on any host.
    ASSERT_EQ(KesFileRemove(&status, entry->location)->code, KES_OK);
    limited->availableKb = 0;
    DepotAdjustReservedSpace(&status, limited, "seg1", "1.0");
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    DepotFree(&status, limited);
}

TEST_F(Walking, TheDirectoryIsMadeWhenMissing) {
    KesStatus status;
    const std::string nested = dir_ / "a";
    DepotSetDir(&status, depot_, nested.c_str());
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    EXPECT_EQ(std::string(DepotGetDir(depot_)), nested);
    EXPECT_NE(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
    EXPECT_TRUE(Exists(nested + "/00000108.0.xml"));

    WriteBytes(dir_ / "file", "x");
    DepotSetDir(&status, depot_, (dir_ / "file").c_str());
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, EEXIST);

    // Without a directory, "depot" in the current directory.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    Depot *plain = nullptr;
    DepotNew(&status, &plain, nullptr, 0);
    std::filesystem::current_path(previous);
    ASSERT_EQ(status.code, 0);
    EXPECT_STREQ(DepotGetDir(plain), "depot");
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "depot"));
    DepotFree(&status, plain);
}

}  // namespace
