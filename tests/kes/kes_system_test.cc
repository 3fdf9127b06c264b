// System information and run-time libraries of the Kes layer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "kes/kes_rtl.h"
#include "kes/kes_system.h"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using korvo::test::Child;
using korvo::test::Pipe;

TEST(KesSystem, ClockRandomNumbersAndNames) {
    auto now = [] {
        timespec time{};
        clock_gettime(CLOCK_REALTIME, &time);
        return static_cast<int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
    };
    const int64_t before = now();
    const int64_t milliseconds = KesSystemGetMilliSeconds();
    EXPECT_LE(before, milliseconds);
    EXPECT_LE(milliseconds, now());

    std::vector<int> expected, actual;
    std::srand(1234);
    for (int i = 0; i < 5; ++i)
        expected.push_back(std::rand());
    KesSystemSeedRandom(1234);
    for (int i = 0; i < 5; ++i)
        actual.push_back(KesSystemRandom());
    EXPECT_EQ(actual, expected);
    EXPECT_TRUE(KesSystemHas64BitInt());

    EXPECT_EQ(KesSystemGetOS(), osName);
    EXPECT_EQ(KesSystemGetOSArch(), osArch);
    EXPECT_EQ(KesSystemGetOSVersion(), osVersion);
    EXPECT_STRNE(osName, "");
    EXPECT_STRNE(osArch, "");
    // Where the kernel names itself, the names are its own, cut to 31 bytes.
    if (const std::optional<korvo::test::HostNames> names = korvo::test::hostNames()) {
        EXPECT_EQ(std::string(osName), names->system.substr(0, 31));
        EXPECT_EQ(std::string(osArch), names->machine.substr(0, 31));
        EXPECT_EQ(std::string(osVersion), names->release.substr(0, 31));
    }
}

korvo::test::PipeEnd *exitHandlerEnd = nullptr;

// Standard output goes to end 0, exit handlers write to end 1; both would be
// reached on an ordinary exit.
KORVO_CHILD_BODY(ExitWithHandlersAndBufferedText) {
    exitHandlerEnd = &child.end(1);
    if (!child.end(0).becomeStandardOutput())
        return 1;
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    std::fputs("buffered", stdout);
    std::atexit([] { exitHandlerEnd->send('h'); });
    KesSystemExit(7);
}

TEST(KesSystem, ExitRunsNoHandlersAndFlushesNothing) {
    Pipe output, handler;
    Child child("ExitWithHandlersAndBufferedText",
                {.ends = {output.writeEnd(), handler.writeEnd()}});
    output.closeWrite();
    handler.closeWrite();
    EXPECT_EQ(child.wait(), 7);
    EXPECT_EQ(output.receive(), -1);  // the end of the pipe, nothing in it
    EXPECT_EQ(handler.receive(), -1);
}

// The probe library is built three times (tests/kes/kes_rtl.cmake); each copy
// answers kes_rtl_probe() with its number: rtl/both/kesprobe.so 1,
// rtl/both/libkesprobe.so 2, rtl/libonly/libkesprobe.so 3 (".dll" on Windows).
#if defined(_WIN32)
constexpr std::string_view kLibrarySuffix = ".dll";
#else
constexpr std::string_view kLibrarySuffix = ".so";
#endif

class KesRtl : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("KORVO_TEST_BINARY_DIR"), nullptr);
        binaries_ = std::getenv("KORVO_TEST_BINARY_DIR");
        rtl_ = binaries_ + "/rtl";
    }
    // The number of the copy in `module` (0 for none), which is unloaded.
    static int probe(void *module) {
        if (module == nullptr)
            return 0;
        auto *function = reinterpret_cast<int (*)()>(KesRtlResolve(module, "kes_rtl_probe"));
        const int number = function == nullptr ? -1 : function();
        EXPECT_EQ(KesRtlUnload(module), 1);
        return number;
    }
    // Runs the loader program with a library search path: its exit status is
    // the number of the copy it loaded, 100 for none.
    int loadThroughSearchPath(const std::string &searchPath, std::vector<std::string> arguments) {
#if defined(_WIN32)
        // PATH also finds the loader's own DLLs: the directory goes before it.
        const char *path = std::getenv("PATH");
        const std::string search = path != nullptr ? searchPath + ";" + path : searchPath;
        arguments.insert(arguments.begin(), binaries_ + "/kes_rtl_loader.exe");
#else
        const std::string &search = searchPath;
        arguments.insert(arguments.begin(), binaries_ + "/kes_rtl_loader");
#endif
        return korvo::test::runProgram(arguments,
                                       {{korvo::test::librarySearchPathVariable(), search}});
    }
    std::string binaries_, rtl_;
};

TEST_F(KesRtl, CandidateOrder) {
    const std::string both = rtl_ + "/both", libOnly = rtl_ + "/libonly";
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", both.c_str())), 1);
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", libOnly.c_str())), 3);
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", rtl_.c_str())), 0);
    // A name with a separator is a path, whatever the directory.
    const std::string path = both + "/libkesprobe" + std::string(kLibrarySuffix);
    EXPECT_EQ(probe(KesRtlLoad(path.c_str(), libOnly.c_str())), 2);
    EXPECT_EQ(probe(KesRtlLoad(nullptr, both.c_str())), 0);

    EXPECT_EQ(loadThroughSearchPath(both, {"kesprobe"}), 1);
    EXPECT_EQ(loadThroughSearchPath(libOnly, {"kesprobe"}), 3);
    EXPECT_EQ(loadThroughSearchPath(libOnly, {"kesprobe", ""}), 3);  // an empty directory is none
    EXPECT_EQ(loadThroughSearchPath(rtl_, {"kesprobe"}), 100);

    // Candidates longer than 511 characters are not tried: "<dir>/kesprobe.so"
    // is 12 longer than the directory (13 with ".dll"), padded here with "/.".
    const size_t longest = 511 - (std::string_view("/kesprobe").size() + kLibrarySuffix.size());
    auto padded = [&](size_t length) {
        std::string dir = both + ((length - both.size()) % 2 ? "/" : "");
        while (dir.size() < length)
            dir += "/.";
        return dir;
    };
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", padded(longest).c_str())), 1);
    EXPECT_EQ(probe(KesRtlLoad("kesprobe", padded(longest + 1).c_str())), 0);
}

TEST_F(KesRtl, ResolvingAndUnloading) {
    // A NULL module resolves in the running program.
    EXPECT_EQ(KesRtlResolve(nullptr, "KesRtlResolve"), reinterpret_cast<void *>(&KesRtlResolve));
    EXPECT_EQ(KesRtlResolve(nullptr, "no_such_symbol_anywhere"), nullptr);
    void *module = KesRtlLoad("kesprobe", (rtl_ + "/both").c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(KesRtlResolve(module, "KesRtlResolve"), nullptr);  // only the module's own
    EXPECT_EQ(KesRtlUnload(module), 1);
    EXPECT_EQ(KesRtlUnload(nullptr), 0);
    EXPECT_STREQ(KesRtlError(), "Unknown");
}

}  // namespace
