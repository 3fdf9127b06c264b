// The runtime log: captured lines with their levels, the line format in a
// log file, and the level filter from the environment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "runtime/log.h"
#include "runtime/log_capture.hpp"
#include "tests/support/test_host.hpp"

namespace {

using korvo::rt::LogCapture;
using korvo::rt::LogLine;

// Restores the log's configuration from a clean environment.
class Log : public ::testing::Test {
  protected:
    void TearDown() override {
        korvo::test::setEnvironmentVariable("KORVO_LOG_FILE", nullptr);
        korvo::test::setEnvironmentVariable("KORVO_LOG_LEVEL", nullptr);
        log_set_level(-1);
        log_configure();
    }
};

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(Log, CaptureSeesEveryLineWithItsLevel) {
    log_set_level(0);  // the filter does not apply to capturing
    LogCapture capture;
    LogMsg(3, 0, 0, -1, "DepotNew entry\n");
    LogMsg(0, 0, 0, -1, "%s", "C:\\100%\\path\n");  // a finished line is not formatted again
    LogQ("korvo: cds_init: cds_load() returned %d.", -3);
    const std::string long_line(3000, 'x');
    LogMsg(1, 0, 0, -1, "%s", long_line.c_str());
    EXPECT_EQ(capture.lines(),
              (std::vector<LogLine>{{3, "DepotNew entry\n"},
                                    {0, "C:\\100%\\path\n"},
                                    {2, "korvo: cds_init: cds_load() returned -3."},
                                    {1, long_line}}));
    EXPECT_EQ(capture.texts(3), std::vector<std::string>{"DepotNew entry\n"});
}

TEST_F(Log, FileLinesCarryTimePidAndLevelAndPassTheFilter) {
    const std::string path =
        ::testing::TempDir() + "korvo_log_" + std::to_string(getpid()) + ".log";
    std::remove(path.c_str());
    korvo::test::setEnvironmentVariable("KORVO_LOG_FILE", path.c_str());
    korvo::test::setEnvironmentVariable("KORVO_LOG_LEVEL", "1");
    log_configure();
    EXPECT_EQ(log_get_level(), 1);
    LogMsg(0, 0, 0, -1, "DepotSaveEntry exit.  Error %d(%d) obtaining lock\n", -2, 0);
    LogMsg(1, 0, 0, -1, "no line feed");
    LogMsg(2, 0, 0, -1, "dropped notice\n");
    LogQ("dropped too");
    LogMsg(3, 0, 0, -1, "dropped trace\n");
    log_set_level(3);
    LogMsg(3, 0, 0, -1, "kept trace\n");
    log_set_level(-1);  // back to the environment's level
    EXPECT_EQ(log_get_level(), 1);

    const std::string pid = std::to_string(getpid());
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z ";
    const std::regex expected(stamp + pid +
                              " L0 DepotSaveEntry exit\\.  Error -2\\(0\\) obtaining lock\n" +
                              stamp + pid + " L1 no line feed\n" +  //
                              stamp + pid + " L3 kept trace\n");
    const std::string text = read_file(path);
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    std::remove(path.c_str());
}

TEST_F(Log, BadSettingsFallBackToDefaults) {
    korvo::test::setEnvironmentVariable("KORVO_LOG_LEVEL", "verbose");
    korvo::test::setEnvironmentVariable("KORVO_LOG_FILE", "/nonexistent-dir/korvo.log");
    ::testing::internal::CaptureStderr();
    log_configure();
    LogQ("to standard error");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log_get_level(), LOG_LEVEL_NOTICE);
    EXPECT_NE(err.find("cannot open the log file /nonexistent-dir/korvo.log"), std::string::npos);
    EXPECT_NE(err.find(" L2 to standard error\n"), std::string::npos) << err;
}

}  // namespace
