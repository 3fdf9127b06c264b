// Progress records where only a POSIX host can show them: the progress
// directory's mode under a umask, and directories handed to another account
// (chown), which Windows has no counterpart of.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/log_capture.hpp"
#include "stream/mstat.h"
#include "tests/stream/mstat_test_support.hpp"

namespace {

using namespace mstat_test;

// The progress directory is made for its owner only (again at a save, when
// it went away after the process made it), and one that another
// account made (it could hold forged records) is refused: saves and loads
// answer -1 and say why in the log, and nothing is written there.
TEST_F(ProgressRecords, TheProgressDirectoryBelongsToItsOwnerOnly) {
    const mode_t mask = ::umask(022);
    Record created(mstat_new("42", 0));
    ::umask(mask);
    struct stat status;
    ASSERT_EQ(::stat(dir.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(mstat_save(created.get()), 0);

    // Removed while the process runs: a later record's first save makes it
    // again, for its owner only as well.
    std::filesystem::remove_all(dir);
    const mode_t wide = ::umask(022);
    Record later(mstat_new("43", 0));
    EXPECT_EQ(mstat_save(later.get()), 0);
    ::umask(wide);
    ASSERT_EQ(::stat(dir.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/43.mds"));

    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a directory to another account needs root";
    const uid_t other = 65534;
    const std::string planted = scratch / "planted";
    std::filesystem::create_directory(planted);
    ASSERT_EQ(::chown(planted.c_str(), other, other), 0);
    for (const bool linked : {false, true}) {
        std::filesystem::remove_all(dir);
        if (linked)
            std::filesystem::create_directory_symlink(planted, dir);
        else
            std::filesystem::create_directory(dir);
        ASSERT_EQ(::lchown(dir.c_str(), linked ? 0 : other, linked ? 0 : other), 0);
        korvo::rt::LogCapture capture;
        Record record(mstat_new("42", 0));
        EXPECT_EQ(mstat_save(record.get()), -1) << linked;
        EXPECT_EQ(mstat_load(record.get()), -1) << linked;
        const std::string line = "korvo: The progress directory " + dir +
                                 " belongs to another account; no progress record is kept there.";
        EXPECT_EQ(capture.texts(LOG_LEVEL_FAILURE), (std::vector<std::string>{line, line}));
        EXPECT_TRUE(std::filesystem::is_empty(planted));
    }
}

}  // namespace
