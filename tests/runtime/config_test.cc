// Configuration lookups, the key=value reader, path normalisation and the
// portability services.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "runtime/config.h"
#include "runtime/cpl.h"
#include "runtime/log_capture.hpp"
#include "runtime/mg_memory.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

std::string take(char *owned) {
    std::string out = owned != nullptr ? owned : "(null)";
    mg_free(owned);
    return out;
}

// A fresh directory for one test, removed with its files afterwards.
class Scratch : public ::testing::Test {
  protected:
    std::string write(const std::string &name, const std::string &text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    kes_test::ScratchDir scratch_;
    const std::string dir_ = scratch_.path();
};

const MrtConfigKey kDepotDir[] = {{"depot_dir", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                  {nullptr, 0, 0, nullptr, nullptr}};

// Reads depot_dir alone from the file at `path` into `*value`.
int read_depot_dir(const char *path, char **value) {
    const MrtConfigQuery query{kDepotDir, 0, value};
    return mrt_get_config_from_file(path, &query);
}

TEST(Configuration, LocationsComeFromTheEnvironment) {
    korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", "/var/korvo/work");
    korvo::test::setEnvironmentVariable("KORVO_CONFIG_FILE", "/etc/korvo/endpoint.cfg");
    EXPECT_EQ(take(mrt_get_work_dir()), "/var/korvo/work");
    EXPECT_EQ(take(mrt_get_config_filespec()), "/etc/korvo/endpoint.cfg");
    korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", "");
    korvo::test::setEnvironmentVariable("KORVO_CONFIG_FILE", nullptr);
    EXPECT_EQ(mrt_get_work_dir(), nullptr);
    EXPECT_EQ(mrt_get_config_filespec(), nullptr);
    korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", nullptr);
}

using ConfigFile = Scratch;

// A key's first line gives its value, trimmed of blanks; a value is a C
// string, so it ends at the line's first NUL byte, without the blanks in
// front of that NUL.
TEST_F(ConfigFile, QueriesFillTheirSlotsFromTheFirstLineOfEachKey) {
    using namespace std::string_literals;
    const std::string path = write("endpoint.cfg",
                                   "# depot_dir=/commented\n"
                                   "; depot_dir=/also-commented\n"
                                   "no equals sign\n"
                                   "  depot_dir =  /var/depot dir  \r\n"
                                   "depot_dir=/second\n"
                                   "empty=\n"
                                   "url=http://host/?a=b\n"
                                   "nul = /var/depot \r\0\0\0 2\n"
                                   "a = \0hidden\n"s);
    static const MrtConfigKey keys[] = {{"depot_dir", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"empty", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"missing", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"url", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"nul", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {"a", 0, MRT_CONFIG_STRING, nullptr, nullptr},
                                        {nullptr, 0, 0, nullptr, nullptr}};
    char *values[6] = {};
    const MrtConfigQuery query{keys, 0, values};
    ASSERT_EQ(mrt_get_config_from_file(path.c_str(), &query), 1);
    std::vector<std::string> read;
    for (char *value : values)
        read.push_back(take(value));
    EXPECT_EQ(read, (std::vector<std::string>{"/var/depot dir", "", "(null)", "http://host/?a=b",
                                              "/var/depot", ""}));
}

TEST_F(ConfigFile, FailuresLeaveTheSlotsAlone) {
    char *value = nullptr;
    EXPECT_EQ(read_depot_dir((dir_ + "/absent.cfg").c_str(), &value), 0);
    EXPECT_EQ(read_depot_dir(dir_.c_str(), &value), 0);  // a directory
    const std::string path = write("endpoint.cfg", "depot_dir=/d\n");
    static const MrtConfigKey numeric[] = {{"depot_dir", 0, 3, nullptr, nullptr},
                                           {nullptr, 0, 0, nullptr, nullptr}};
    const MrtConfigQuery wrong_kind{numeric, 0, &value};
    EXPECT_EQ(mrt_get_config_from_file(path.c_str(), &wrong_kind), 0);
    EXPECT_EQ(read_depot_dir(nullptr, &value), 0);
    EXPECT_EQ(mrt_get_config_from_file(path.c_str(), nullptr), 0);
    EXPECT_EQ(value, nullptr);
}

// Lines are bounded: a line longer than MRT_CONFIG_MAX_LINE bytes fails the
// whole read with a log line saying where, instead of growing without end.
TEST_F(ConfigFile, ALineLongerThanTheLimitFailsTheRead) {
    char *value = nullptr;
    const std::string longest = "x=" + std::string(MRT_CONFIG_MAX_LINE - 2, 'v');
    const std::string fits = write("fits.cfg", longest + "\r\n" + longest + "\ndepot_dir=/d");
    ASSERT_EQ(read_depot_dir(fits.c_str(), &value), 1);
    EXPECT_EQ(take(value), "/d");
    value = nullptr;

    const std::string path = write("long.cfg", "# first\n" + longest + "v\ndepot_dir=/d\n");
    korvo::rt::LogCapture capture;
    EXPECT_EQ(read_depot_dir(path.c_str(), &value), 0);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(capture.texts(LOG_LEVEL_FAILURE),
              std::vector<std::string>{"Configuration file " + path + ": line 2 is longer than " +
                                       std::to_string(MRT_CONFIG_MAX_LINE) +
                                       " bytes; the file is not read."});
}

// Reads depot_dir from the configuration file arg(0), which must give nothing.
KORVO_CHILD_BODY(ReadConfigFromAFifo) {
    char *value = nullptr;
    return read_depot_dir(child.arg(0).c_str(), &value) == 0 && value == nullptr ? 0 : 1;
}

// Only a regular file is read; a FIFO is refused at once instead of waiting
// for a writer (the read runs in a child, so that a wait fails the test).
TEST_F(ConfigFile, OnlyRegularFilesAreRead) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs in the file system";
#else
    const std::string fifo = dir_ + "/fifo.cfg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    korvo::test::Child child("ReadConfigFromAFifo", {.args = {fifo}});
    EXPECT_EQ(child.wait(), 0);
#endif
}

TEST(Configuration, CorrectPathNormalises) {
    const std::pair<const char *, const char *> cases[] = {
        {"/var//korvo/./work/", "/var/korvo/work"},
        {"/", "/"},
        {"//", "/"},
        {"", "."},
        {"./", "."},
        {"a/../b", "a/../b"},
        {"relative/dir//", "relative/dir"},
        {"C:\\work\\korvo", "C:/work/korvo"},
        {"\\\\server\\share\\", "/server/share"},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(take(CorrectPath(path, 1)), expected) << path;
    EXPECT_EQ(take(CorrectPath("a\\b//c", 0)), "a\\b/c");
    EXPECT_EQ(CorrectPath(nullptr, 1), nullptr);
}

TEST(Portability, EnvironmentAndTemporaryDirectory) {
    korvo::test::setEnvironmentVariable("KORVO_TEST_VALUE", "v");
    EXPECT_STREQ(cpl_getenv("KORVO_TEST_VALUE"), "v");
    EXPECT_EQ(cpl_getenv("KORVO_TEST_UNSET_VALUE"), nullptr);
    EXPECT_EQ(cpl_getenv(nullptr), nullptr);
    korvo::test::setEnvironmentVariable("KORVO_TEST_VALUE", nullptr);

    const char *saved = std::getenv("TMPDIR");
    const std::string saved_tmpdir = saved != nullptr ? saved : "";
    korvo::test::setEnvironmentVariable("KORVO_TMPDIR", "/korvo-tmp");
    korvo::test::setEnvironmentVariable("TMPDIR", "/system-tmp");
    EXPECT_STREQ(cpl_tmpdir(), "/korvo-tmp");
    korvo::test::setEnvironmentVariable("KORVO_TMPDIR", "");
    EXPECT_STREQ(cpl_tmpdir(), "/system-tmp");
    korvo::test::setEnvironmentVariable("KORVO_TMPDIR", nullptr);
    korvo::test::setEnvironmentVariable("TMPDIR", nullptr);
#ifdef _WIN32
    // Windows' own temporary folder (GetTempPath), wherever the system keeps it.
    EXPECT_TRUE(std::filesystem::is_directory(cpl_tmpdir())) << cpl_tmpdir();
#else
    EXPECT_STREQ(cpl_tmpdir(), "/tmp");
#endif
    if (saved != nullptr)
        korvo::test::setEnvironmentVariable("TMPDIR", saved_tmpdir.c_str());
}

using Directory = Scratch;

TEST_F(Directory, ListingGivesEveryNameTwoBytesIntoTheRecord) {
    EXPECT_EQ(offsetof(CplDirEntry, name), 2u);
    write("segment.toc", "");
    write("Mixed Case.DAT", "");
    CplDir *dir = cpl_opendir(dir_.c_str());
    ASSERT_NE(dir, nullptr);
    std::set<std::string> names;
    while (CplDirEntry *entry = cpl_readdir(dir)) {
        const char *raw = reinterpret_cast<const char *>(entry) + 2;
        EXPECT_EQ(std::strlen(raw), entry->name_length);
        names.insert(raw);
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "segment.toc", "Mixed Case.DAT"}));
    EXPECT_EQ(cpl_readdir(dir), nullptr);
    EXPECT_EQ(cpl_closedir(dir), 0);
    EXPECT_EQ(cpl_opendir((dir_ + "/absent").c_str()), nullptr);
    EXPECT_EQ(cpl_opendir(nullptr), nullptr);
    EXPECT_EQ(cpl_readdir(nullptr), nullptr);
    EXPECT_EQ(cpl_closedir(nullptr), 0);
}

}  // namespace
