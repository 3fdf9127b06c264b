// The C++ twin of the sample method under the gateway peer: a distribution
// arrives byte for byte, a paused one resumes at its checkpoint, commands
// stop it with their names, and its report goes up once it is complete; the
// transcripts are those of the C method.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/stream/program.hpp"
#include "tests/stream/sample_method_run.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace {

using stream_test::contents;
using stream_test::Program;

class CxxSampleMethod : public stream_test::SampleMethodRun {
  protected:
    CxxSampleMethod() : SampleMethodRun(KORVO_SAMPLE_METHOD_CXX_PROGRAM) {}
    void SetUp() override {
        // What the library opens once per process (on Windows its first
        // call opens handles it keeps) is open before the count begins.
        korvo_init();
        SampleMethodRun::SetUp();
    }

    std::vector<std::string> serve(const std::vector<std::string> &options,
                                   const std::vector<std::string> &extra = {}) {
        return start(options, extra).lines();
    }
    void expect_complete() { expect_outputs(); }

    static bool has(const std::vector<std::string> &lines, const std::string &line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

TEST_F(CxxSampleMethod, PausedResumesAtTheCheckpointAndCompletes) {
    distribution({{"a.bin", 3000000}, {"empty.bin", 0}, {"b.bin", 5000}});
    auto lines = serve({"--command", "pause@1000000"});
    EXPECT_EQ(peer->wait(), 3);
    EXPECT_TRUE(has(lines, "stopped: PAUSE"));
    EXPECT_EQ(progress("dist").at("c_len"), "999424");

    lines = serve({});
    EXPECT_EQ(peer->wait(), 0);
    EXPECT_TRUE(has(lines, "gateway: TOC of 3 segments, 3005000 bytes, resuming at 999424"));
    EXPECT_TRUE(has(lines, "gateway: segment a.bin^1: sent bytes 999424 to 3000000"));
    EXPECT_TRUE(has(lines, "distribution dist complete in " + out));
    expect_complete();
    EXPECT_EQ(progress("dist").at("c_len"), "3005000");
}

TEST_F(CxxSampleMethod, CommandsStopItAndItsReportGoesUp) {
    distribution({{"a.bin", 200000}});
    auto lines = serve({"--command", "cancel@50000"});
    EXPECT_EQ(peer->wait(), 3);
    EXPECT_TRUE(has(lines, "stopped: CANCEL"));

    std::filesystem::remove_all(work + "/mstat");
    const std::string report = scratch / "report.txt";
    const std::string uploads = scratch / "uploads";
    stream_test::write_file(report, stream_test::pattern(20000, 9));
    std::filesystem::create_directory(uploads);
    lines = serve({"--uploads", uploads}, {report});
    EXPECT_EQ(peer->wait(), 0);
    EXPECT_TRUE(has(lines, "sent " + report + " up"));
    EXPECT_TRUE(has(lines, "gateway: upload 1: 20000 bytes in 2 chunks (16384, 3616), kept in " +
                               uploads + "/upload-1"));
    expect_complete();

    lines = serve({"--refuse", "-7@2"}, {report});
    EXPECT_EQ(peer->wait(), 1);
    EXPECT_TRUE(has(lines, "report refused: -7"));
}

TEST_F(CxxSampleMethod, AFailureEndsItWithTheCatalogMessage) {
    // A TOC file that is not one: the method reports message 11 and fails.
    peer = std::make_unique<Program>(std::vector<std::string>{KORVO_SAMPLE_METHOD_CXX_PROGRAM,
                                                              "dist", scratch / "none.toc", out});
    EXPECT_EQ(peer->wait(), 1);
}

}  // namespace
