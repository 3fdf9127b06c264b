// A depot directory that holds what other programs and accounts put there:
// directories named like depot files, records that point outside the depot
// or are damaged, oversized files, links and an abandoned lock. Every case
// runs with the directory index and without it, under a watchdog so that an
// operation that waits on what it should not fails the test. On POSIX hosts
// also FIFOs named like depot files and the modes of what the depot makes
// under a careless umask.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "depot_test_support.hpp"
#include "kes/kes_file.h"
#include "runtime/log_capture.hpp"

namespace depot_test {

inline bool Contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Hostile : public IndexedDepotTest {
  protected:
    // Every operation here must come back: a wait on a FIFO fails the test.
    void SetUp() override {
        watchdog_.emplace(60);
        IndexedDepotTest::SetUp();
    }
    void TearDown() override {
        IndexedDepotTest::TearDown();
        watchdog_.reset();
    }
    // Adds seg1/1.0 in a process that ends without completing it.
    void AddAndEnd(const char *properties) {
        korvo::test::Child writer("AddAndEnd", {.args = {dir_.path(), properties}});
        ASSERT_EQ(writer.wait(), 0);
    }
    std::optional<korvo::test::Watchdog> watchdog_;
};

}  // namespace depot_test

namespace {

using depot_test::Bytes;
using depot_test::Contains;
using depot_test::Exists;
using depot_test::Hostile;
using depot_test::Names;
using depot_test::ReadBytes;
using depot_test::Record;
using depot_test::WriteBytes;
using korvo::rt::LogCapture;
using korvo::rt::LogLine;

// Opens a depot handle on arg(0), adds seg1/1.0 with the properties arg(1)
// and ends without completing it.
KORVO_CHILD_BODY(AddAndEnd) {
    KesStatus status;
    Depot *depot = nullptr;
    DepotNew(&status, &depot, child.arg(0).c_str(), 0);
    return DepotAddEntry(depot, "seg1", "1.0", Bytes(child.arg(1))) != nullptr ? 0 : 1;
}

INSTANTIATE_TEST_SUITE_P(Index, Hostile, ::testing::Bool(), depot_test::IndexRunName);

TEST_P(Hostile, StrayNamesNeitherEndAPurgeNorBlockABucket) {
    for (int i = 0; i < 20; ++i)
        Store(("s" + std::to_string(i)).c_str(), "1");
    std::filesystem::create_directory(dir_ / "zz.xml");
    std::filesystem::create_directory(dir_ / "00000108.0.xml");
    KesStatus status;
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"00000108.0.xml", "zz.xml"}));
    for (int i = 0; i < 2; ++i) {
        DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
        ASSERT_NE(entry, nullptr) << i;
        EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.1.xml");
        DepotCompleteEntry(&status, depot_, entry, 0);
    }
}

TEST_P(Hostile, AnEntryFileLargerThanAnyRecordIsNotRead) {
    // A sparse gigabyte named like the first entry of seg1/1.0's bucket.
    WriteBytes(dir_ / "00000108.0.xml", "");
    std::filesystem::resize_file(dir_ / "00000108.0.xml", std::uintmax_t{1} << 30);
    const auto resident = [] { return korvo::test::residentBytes(); };
    const int64_t before = resident();
    LogCapture capture;
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.1.xml");
    DepotEntryEnum *walk = nullptr;
    KesStatus status;
    DepotEnumNew(&status, depot_, &walk);
    int walked = 0;
    while (DepotEntryEnumNextElement(walk) != nullptr)
        ++walked;
    DepotEntryEnumDelete(&status, walk);
    EXPECT_EQ(walked, 1);
    EXPECT_LT(resident() - before, int64_t{64} << 20);
    const std::string file = dir_ / "00000108.0.xml";
    EXPECT_TRUE(
        Contains(capture.texts(1),
                 "DepotEntryEnumNextElement error -4 obtaining size of file " + file + "\n"));
    EXPECT_TRUE(Contains(capture.texts(1),
                         "DepotGetEntry_internal error -4 retrieving size of file " + file + "\n"));
}

TEST_P(Hostile, PropertiesThatWouldMakeARecordTooLargeToReadAreRefused) {
    const std::string huge(800 * 1024, 'p');  // a third more as Base64: past 1 MiB
    EXPECT_EQ(DepotAddEntry(depot_, "seg1", "1.0", Bytes(huge)), nullptr);
    EXPECT_TRUE(Names(dir_.path()).empty());
    const std::string large(700 * 1024, 'p');
    EXPECT_NE(DepotAddEntry(depot_, "seg1", "1.0", Bytes(large)), nullptr);
}

TEST_P(Hostile, DataFilesOutsideTheDepotAreNeitherChangedNorRemoved) {
    depot_test::ScratchDir elsewhere;
    const std::string victim = elsewhere / "victim.dat";
    WriteBytes(victim, "precious");

    // A record planted with a location outside the depot.
    char *bucket = DepotFindBucket("planted", "1");
    const std::string plantedFile = dir_ / (std::string(bucket) + ".0.xml");
    KesMemoryFree(bucket);
    WriteBytes(plantedFile, Record("planted", victim));
    DepotEntry *planted = DepotGetEntry(depot_, "planted", "1");
    ASSERT_NE(planted, nullptr);
    KesStatus status;
    KesFile file = nullptr;
    LogCapture capture;
    DepotFileOpenForWrite(&status, depot_, planted, &file, 1);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, EPERM);
    EXPECT_EQ(file, nullptr);
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, EPERM);
    EXPECT_EQ(ReadBytes(victim), "precious");
    EXPECT_TRUE(Contains(capture.texts(1), "DepotRemoveEntry_internal error data file " + victim +
                                               " lies outside the depot\n"));
    EXPECT_TRUE(Exists(plantedFile));  // reported, left for a person to judge
    ASSERT_EQ(KesFileRemove(&status, plantedFile.c_str())->code, KES_OK);

    // A data file replaced by a symbolic link to a file elsewhere.
    Store("seg1", "1.0");
    ASSERT_EQ(KesFileRemove(&status, (dir_ / "00000108.0.dat").c_str())->code, KES_OK);
    if (!korvo::test::makeSymbolicLink(victim, dir_ / "00000108.0.dat"))
        GTEST_SKIP() << "this host makes no symbolic links: the linked data file is unchecked";
    DepotEntry *entry = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(entry, nullptr);
    DepotFileOpenForWrite(&status, depot_, entry, &file, 1);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, ELOOP);
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Names(dir_.path()).empty());  // the link went, not its target
    EXPECT_EQ(ReadBytes(victim), "precious");
}

TEST_P(Hostile, APurgeMeetingAnAbandonedEntryLockLeavesThatEntry) {
    const std::string path = Store("seg1", "1.0");
    depot_test::AbandonLock("ENTRY");
    LogCapture capture;
    KesStatus status;
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, KES_WAIT_FAILED);
    EXPECT_TRUE(Exists(path));
    std::vector<LogLine> failures;
    for (const LogLine &line : capture.lines())
        if (line.level < 3)
            failures.push_back(line);
    EXPECT_EQ(failures, (std::vector<LogLine>{
                            {0, "DepotRemoveEntry_internal exit.  Error -2(0) obtaining lock\n"},
                            {1, "DepotPurge error -2 removing depot entry\n"}}));
    // The next purge finds the lock usable again.
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Names(dir_.path()).empty());
}

// Entries renamed into the directory while a purge reads it: a listing may
// skip them, so the purge walks again.
struct RenameInDuringWalk {
    std::string dir;
    int injected = 0;
    int calls = 0;
    static void Take(void *context, int32_t, const char *text) {
        auto *self = static_cast<RenameInDuringWalk *>(context);
        if (std::string(text) != "DepotEntryEnumNextElement entry\n" || ++self->calls != 2)
            return;
        for (int i = 0; i < 30; ++i) {
            const std::string stem = self->dir + "/0000" + std::to_string(1000 + i) + ".0";
            WriteBytes(stem + ".tmp", Record("late" + std::to_string(i), stem + ".dat"));
            WriteBytes(stem + ".dat", "");
            std::filesystem::rename(stem + ".tmp", stem + ".xml");
            ++self->injected;
        }
    }
};

TEST_P(Hostile, AForcedPurgeRemovesEntriesThatArriveWhileItWalks) {
    for (int i = 0; i < 20; ++i)
        Store(("s" + std::to_string(i)).c_str(), "1");
    RenameInDuringWalk injector{dir_.path()};
    log_set_capture(RenameInDuringWalk::Take, &injector);
    KesStatus status;
    DepotPurge(&status, depot_, 1);
    log_set_capture(nullptr, nullptr);
    EXPECT_EQ(injector.injected, 30);
    EXPECT_EQ(status.code, 0);
    EXPECT_TRUE(Names(dir_.path()).empty());
}

TEST_P(Hostile, APendingEntryWhoseWriterEndedIsTakenOver) {
    AddAndEnd("old");

    // A writer that lives keeps its entry.
    DepotEntry *live = DepotAddEntry(depot_, "seg2", "2", Bytes(""));
    ASSERT_NE(live, nullptr);
    Depot *other = nullptr;
    KesStatus status;
    DepotNew(&status, &other, dir_.path().c_str(), 0);
    EXPECT_EQ(DepotAddEntry(other, "seg2", "2", Bytes("")), nullptr);

    LogCapture capture;
    DepotEntry *taken = DepotAddEntry(other, "seg1", "1.0", Bytes("new"));
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->state, DepotStatePending);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(taken->properties), taken->propertiesLength),
              "new");
    EXPECT_EQ(capture.texts(1),
              std::vector<std::string>{"DepotAddEntry taking over entry " +
                                       (dir_ / "00000108.0.xml") + " of a writer that ended\n"});
    // Now this handle is its writer.
    EXPECT_EQ(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
    DepotCompleteEntry(&status, other, taken, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_NE(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
    DepotFree(&status, other);
}

TEST_P(Hostile, AnExpiryPurgeRemovesPendingEntriesWhoseWriterEnded) {
    AddAndEnd("");
    ASSERT_NE(DepotAddEntry(depot_, "seg2", "2", Bytes("")), nullptr);
    KesStatus status;
    DepotPurgeExpiredEntries(&status, depot_);
    EXPECT_EQ(status.code, 0);
    EXPECT_FALSE(Exists(dir_ / "00000108.0.xml"));
    EXPECT_NE(DepotGetEntry(depot_, "seg2", "2"), nullptr);
}

#if !defined(_WIN32)
// Windows has no FIFOs, and the lock objects there are mutexes without
// modes: these cases have no Windows meaning.
void Fifo(const std::string &path) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
}

TEST_P(Hostile, FifosNamedLikeEntryFilesBlockNoOperation) {
    Store("seg2", "2");
    Fifo(dir_ / "a.xml");
    Fifo(dir_ / "00000108.0.xml");  // the first name of the bucket of seg1/1.0
    LogCapture capture;
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->entryFile), dir_ / "00000108.1.xml");
    KesStatus status;
    DepotCompleteEntry(&status, depot_, entry, 0);
    EXPECT_TRUE(Contains(capture.texts(1), "DepotGetEntry_internal error -4 opening file " +
                                               (dir_ / "00000108.0.xml") + "\n"));
    DepotPurgeExpiredEntries(&status, depot_);
    EXPECT_EQ(status.code, 0);
    DepotPurge(&status, depot_, 1);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"00000108.0.xml", "a.xml"}));
    EXPECT_TRUE(Contains(capture.texts(1), "DepotEntryEnumNextElement error -4 opening file " +
                                               (dir_ / "a.xml") + "\n"));
}

TEST_P(Hostile, AFifoWhereADataFileBelongsIsNeverOpened) {
    // At a new entry's data file: the addition fails and clears the way.
    Fifo(dir_ / "00000108.0.dat");
    EXPECT_EQ(DepotAddEntry(depot_, "seg1", "1.0", Bytes("")), nullptr);
    EXPECT_TRUE(Names(dir_.path()).empty());
    DepotEntry *entry = DepotAddEntry(depot_, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(std::filesystem::is_regular_file(entry->location));

    // In place of a complete entry's data file: opens fail at once.
    KesStatus status;
    DepotCompleteEntry(&status, depot_, entry, 0);
    std::filesystem::remove(dir_ / "00000108.0.dat");
    Fifo(dir_ / "00000108.0.dat");
    entry = DepotGetEntry(depot_, "seg1", "1.0");
    ASSERT_NE(entry, nullptr);
    KesFile file = nullptr;
    DepotFileOpenForRead(&status, depot_, entry, &file);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, ENXIO);
    EXPECT_EQ(file, nullptr);
    DepotFileOpenForWrite(&status, depot_, entry, &file, 1);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(file, nullptr);
}

// Lock objects and directories are for the owner and the group only, and a
// lock object someone else made, or of the wrong size, is refused.
class Permissions : public ::testing::Test {
  protected:
    void SetUp() override { previous_ = ::umask(0); }
    void TearDown() override { ::umask(previous_); }
    static std::string LockObject(const char *name) {
        return std::string("/korvo.") + std::getenv("KORVO_LOCK_NAMESPACE") + "." + name;
    }
    mode_t previous_ = 0;
    depot_test::LockNamespace space_;
    depot_test::ScratchDir scratch_;
};

TEST_F(Permissions, DirectoriesAndLockObjectsAreForTheOwnerAndTheGroup) {
    KesStatus status;
    Depot *depot = nullptr;
    const std::string dir = scratch_ / "depot";
    DepotNew(&status, &depot, dir.c_str(), 0);
    ASSERT_EQ(status.code, 0);
    struct stat info {};
    ASSERT_EQ(::stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0770u);
    ASSERT_EQ(
        ::stat(korvo::test::sharedMemoryObjectFile(LockObject("DEPOT").substr(1)).c_str(), &info),
        0);
    EXPECT_EQ(info.st_mode & 07777, 0660u);
    DepotEntry *entry = DepotAddEntry(depot, "seg1", "1.0", Bytes(""));
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(::stat(entry->location, &info), 0);
    EXPECT_EQ(info.st_mode & 0007, 0u);
    ASSERT_EQ(::stat(entry->entryFile, &info), 0);
    EXPECT_EQ(info.st_mode & 0007, 0u);
    DepotFree(&status, depot);
}

TEST_F(Permissions, ALockObjectOfAnotherSizeOrAnotherAccountIsRefused) {
    const std::string object = LockObject("DEPOT");
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1), 0);
    KesStatus status;
    Depot *depot = nullptr;
    LogCapture capture;
    DepotNew(&status, &depot, scratch_.path().c_str(), 0);
    EXPECT_EQ(depot, nullptr);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, EPROTO);
    EXPECT_TRUE(Contains(capture.texts(0), "DepotNew exit.  Error -4(" + std::to_string(EPROTO) +
                                               ") creating depot synchronization object\n"));
    if (::geteuid() != 0) {
        ::close(fd);
        GTEST_SKIP() << "giving the object to another account needs root";
    }
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
    ::close(fd);
    DepotNew(&status, &depot, scratch_.path().c_str(), 0);
    EXPECT_EQ(depot, nullptr);
    EXPECT_EQ(status.code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, EACCES);
}
#endif

}  // namespace
