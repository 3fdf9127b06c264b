// The hostile-directory cases that only POSIX hosts can set up: FIFOs named
// like depot files (Windows has no FIFOs), and the modes of what the depot
// makes under a careless umask, with its lock objects in shared memory. The
// fixture and its instantiation are in depot_hostile.hpp and
// depot_hostile_test.cc.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "depot/depot.h"
#include "depot_hostile.hpp"
#include "kes/kes_file.h"
#include "runtime/log_capture.hpp"

namespace {

using depot_test::Bytes;
using depot_test::Contains;
using depot_test::Hostile;
using depot_test::Names;
using korvo::rt::LogCapture;

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

}  // namespace
