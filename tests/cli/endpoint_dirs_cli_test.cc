// How the commands find and open the endpoint's directories: a relative
// depot directory counts like an absolute one, a missing work directory is
// an error, and a depot whose lock objects another account made says what
// to do (on POSIX hosts, where the lock objects are files of shared memory
// that root can give away; Windows names its mutexes in the kernel).
#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "cli_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace cli_test {
namespace {

// korvo run from `dir`: the test moves there for the run, and back.
Outcome KorvoIn(const std::string &dir, const std::vector<std::string> &args) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    Outcome run = korvo(args);
    std::filesystem::current_path(before);
    return run;
}

using EndpointDirs = DepotFixture;

TEST_F(EndpointDirs, ARelativeDepotDirectoryCountsItsPermanentStorage) {
    Store("seg-1", "1.0", std::string(3000 * 1024, 'x'));
    Json absolute = Korvo({"depot", "usage", "--json"}).json();
    EXPECT_EQ(absolute["permanent_storage_kb"], 3000);
    Outcome run = KorvoIn(scratch_.path(), {"depot", "usage", "--json", "-d", "depot"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.json()["permanent_storage_kb"], 3000);
    EXPECT_EQ(run.json()["depot"], dir_);
    run = KorvoIn(scratch_.path(), {"depot", "list", "-d", "./depot/"});
    EXPECT_THAT(run.out, HasSubstr("  " + NativePath(dir_ + "/")));
}

#if !defined(_WIN32)
TEST_F(EndpointDirs, LockObjectsOfAnotherAccountAreNamedWithTheWayOut) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the lock objects to another account needs root";
    std::string space = std::getenv("KORVO_LOCK_NAMESPACE");
    std::string depot_lock = korvo::test::sharedMemoryObjectFile("korvo." + space + ".DEPOT");
    ASSERT_TRUE(std::filesystem::exists(depot_lock));
    ASSERT_EQ(::chown(depot_lock.c_str(), 65534, 65534), 0);
    Outcome run = Korvo({"depot", "list"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, ::testing::StartsWith("korvo: cannot open the depot " + dir_ +
                                               ": its lock objects " + depot_lock + " belong to "));
    EXPECT_THAT(run.err, HasSubstr("and this account may not share them. Run korvo as "));
    EXPECT_THAT(run.err, HasSubstr("or set KORVO_LOCK_NAMESPACE to a name of your own"));
    // The way out works: locks of a namespace of the command's own.
    run = korvo({"depot", "list", "--depot", dir_},
                With({{"KORVO_LOCK_NAMESPACE", space + ".mine"}}));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
        ::shm_unlink(("/korvo." + space + ".mine." + lock).c_str());
}
#endif  // !_WIN32

TEST(WorkDirectory, AMissingOneIsAnErrorLikeAMissingDepot) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"progress", "list", "-w", "/nonexistent"},
             {"progress", "show", "42", "--work-dir", "/nonexistent"}}) {
        Outcome run = korvo(args);
        EXPECT_EQ(run.exit_code, 3);
        EXPECT_EQ(run.err,
                  "korvo: cannot use the work directory /nonexistent: No such file or directory\n");
    }
    EXPECT_EQ(korvo({"progress", "list"}, With({{"KORVO_WORK_DIR", "/nonexistent/w"}})).exit_code,
              3);
    EXPECT_EQ(korvo({"progress", "list", "-w", "/etc/passwd"}).exit_code, 1);
}

}  // namespace
}  // namespace cli_test
