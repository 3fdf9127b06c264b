// A depot whose lock objects another account made: the command says what
// to do. The lock objects are files of POSIX shared memory that root can
// give away; Windows names its mutexes in the kernel, with no such files.
#include <sys/mman.h>
#include <unistd.h>

#include "cli_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace cli_test {
namespace {

using EndpointDirs = DepotFixture;

TEST_F(EndpointDirs, LockObjectsOfAnotherAccountAreNamedWithTheWayOut) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the lock objects to another account needs root";
    std::string space = std::getenv("KORVO_LOCK_NAMESPACE");
    std::string depot_lock = korvo::test::sharedMemoryObjectFile("korvo." + space + ".DEPOT");
    ASSERT_TRUE(std::filesystem::exists(depot_lock));
    ASSERT_EQ(::chown(depot_lock.c_str(), 65534, 65534), 0);
    Outcome run = Korvo({"depot", "list"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err.rfind("korvo: cannot open the depot " + dir_ + ": its lock objects " +
                                depot_lock + " belong to ",
                            0),
              0u)
        << run.err;
    EXPECT_THAT(run.err, HasSubstr("and this account may not share them. Run korvo as "));
    EXPECT_THAT(run.err, HasSubstr("or set KORVO_LOCK_NAMESPACE to a name of your own"));
    // The way out works: locks of a namespace of the command's own.
    run = korvo({"depot", "list", "--depot", dir_},
                With({{"KORVO_LOCK_NAMESPACE", space + ".mine"}}));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const char *lock : {"DEPOT", "ENTRY", "ENUM"})
        ::shm_unlink(("/korvo." + space + ".mine." + lock).c_str());
}

}  // namespace
}  // namespace cli_test
