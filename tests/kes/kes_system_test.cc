// System information and run-time libraries of the Kes layer.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "kes/kes_rtl.h"
#include "kes/kes_system.h"
#include "tests/kes/kes_test_process.hpp"

namespace {

using korvo::test::Child;
using korvo::test::Pipe;

int64_t realtimeMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

TEST(KesSystem, ClockAndRandomNumbers) {
    const int64_t before = realtimeMilliseconds();
    const int64_t now = KesSystemGetMilliSeconds();
    EXPECT_LE(before, now);
    EXPECT_LE(now, realtimeMilliseconds());

    // The C library's generator: the same seed gives the same sequence.
    std::vector<int> expected, actual;
    std::srand(1234);
    for (int i = 0; i < 5; ++i)
        expected.push_back(std::rand());
    KesSystemSeedRandom(1234);
    for (int i = 0; i < 5; ++i)
        actual.push_back(KesSystemRandom());
    EXPECT_EQ(actual, expected);
    EXPECT_TRUE(KesSystemHas64BitInt());
}

Pipe *exitHandlerPipe = nullptr;

TEST(KesSystem, ExitEndsTheProcessWithoutHandlersOrFlushing) {
    // The child's standard output is the pipe: a buffered text and an exit
    // handler would both reach it on an ordinary exit.
    Pipe output;
    exitHandlerPipe = &output;
    Child child([&] {
        output.closeRead();
        if (dup2(output.writeEnd(), STDOUT_FILENO) < 0)
            return 1;
        std::setvbuf(stdout, nullptr, _IOFBF, 4096);
        std::fputs("buffered", stdout);
        std::atexit([] { exitHandlerPipe->send('h'); });
        KesSystemExit(7);
    });
    output.closeWrite();
    EXPECT_EQ(child.wait(), 7);
    EXPECT_EQ(output.receive(), -1);  // the end of the pipe, with nothing in it
}

TEST(KesSystem, OperatingSystemFromUname) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(KesSystemGetOS(), osName);
    EXPECT_EQ(KesSystemGetOSArch(), osArch);
    EXPECT_EQ(KesSystemGetOSVersion(), osVersion);
    EXPECT_EQ(std::string(osName), std::string(names.sysname).substr(0, 31));
    EXPECT_EQ(std::string(osArch), std::string(names.machine).substr(0, 31));
    EXPECT_EQ(std::string(osVersion), std::string(names.release).substr(0, 31));
    EXPECT_EQ(KesSystemGetOS(), osName);  // filled once, the same buffer
}

// Runs the loader program with a library search path; its exit status is
// the number of the probe copy it loaded.
int loadThroughSearchPath(const std::string &searchPath, std::vector<std::string> arguments) {
    const std::string loader =
        std::string(std::getenv("KORVO_TEST_BINARY_DIR")) + "/kes_rtl_loader";
    arguments.insert(arguments.begin(), loader);
    Child child([&] {
        std::vector<char *> argv;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        setenv("LD_LIBRARY_PATH", searchPath.c_str(), 1);
        execv(loader.c_str(), argv.data());
        return 127;
    });
    return child.wait();
}

class KesRtl : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *binaries = std::getenv("KORVO_TEST_BINARY_DIR");
        ASSERT_NE(binaries, nullptr);
        rtl_ = std::string(binaries) + "/rtl";
    }
    // The number of the probe copy in a module; 0 without one.
    static int probe(void *module) {
        if (module == nullptr)
            return 0;
        auto *function = reinterpret_cast<int (*)()>(KesRtlResolve(module, "kes_rtl_probe"));
        const int number = function == nullptr ? -1 : function();
        EXPECT_EQ(KesRtlUnload(module), 1);
        return number;
    }
    std::string rtl_;
};

TEST_F(KesRtl, CandidatesInADirectory) {
    const std::string both = rtl_ + "/both", libOnly = rtl_ + "/libonly";
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", both.c_str())), 1);  // "%s.so" first
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", libOnly.c_str())), 3);
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", rtl_.c_str())), 0);
    EXPECT_EQ(probe(KesRtlLoad("missing", both.c_str())), 0);
    // A name with a separator is a path, whatever the directory.
    EXPECT_EQ(probe(KesRtlLoad((both + "/libkesprobe.so").c_str(), libOnly.c_str())), 2);
    EXPECT_EQ(probe(KesRtlLoad(nullptr, both.c_str())), 0);
}

TEST_F(KesRtl, CandidatesLongerThan511CharactersAreNotTried) {
    // "<dir>/kesprobe.so" is 12 characters longer than the directory, which is
    // padded with "/." up to the length wanted.
    auto padded = [&](size_t length) {
        std::string dir = rtl_ + "/both";
        if ((length - dir.size()) % 2 != 0)
            dir += '/';
        while (dir.size() < length)
            dir += "/.";
        return dir;
    };
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", padded(499).c_str())), 1);
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", padded(500).c_str())), 0);
}

TEST_F(KesRtl, CandidatesThroughTheSearchPath) {
    EXPECT_EQ(loadThroughSearchPath(rtl_ + "/both", {"kesprobe"}), 1);
    EXPECT_EQ(loadThroughSearchPath(rtl_ + "/libonly", {"kesprobe"}), 3);
    EXPECT_EQ(loadThroughSearchPath(rtl_ + "/libonly", {"kesprobe", ""}), 3);  // empty: none
    EXPECT_EQ(loadThroughSearchPath(rtl_, {"kesprobe"}), 100);
}

TEST_F(KesRtl, ResolvingAndUnloading) {
    // A NULL module resolves in the running program.
    EXPECT_EQ(KesRtlResolve(nullptr, "KesRtlResolve"), reinterpret_cast<void *>(&KesRtlResolve));
    EXPECT_EQ(KesRtlResolve(nullptr, "no_such_symbol_anywhere"), nullptr);
    void *module = KesRtlLoad("kesprobe", (rtl_ + "/both").c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(KesRtlResolve(module, "KesRtlResolve"), nullptr);  // only the module's own
    EXPECT_EQ(KesRtlResolve(module, nullptr), nullptr);
    EXPECT_EQ(KesRtlUnload(module), 1);
    EXPECT_EQ(KesRtlUnload(nullptr), 0);
    EXPECT_STREQ(KesRtlError(), "Unknown");
}

}  // namespace
