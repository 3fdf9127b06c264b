// korvo receive and korvo send under the real gateway peer, which starts
// the command with the channel in its environment: a receive the gateway
// pauses resumes at the checkpoint on the next run, an upload arrives
// whole, and a refused one ends with the refusal.
#include "cli_test_support.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class UnderTheGateway : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        fs::create_directory(work_);
        fs::create_directory(uploads_);
    }
    // Runs the peer with `options`, starting `korvo command...`.
    Outcome Gateway(std::vector<std::string> options, const std::vector<std::string> &command) {
        options.insert(options.end(), {"--timeout", "30", "--", KORVO_PROGRAM});
        options.insert(options.end(), command.begin(), command.end());
        return run_program(KORVO_GATEWAY_PROGRAM, options, With({{"KORVO_WORK_DIR", work_}}));
    }
    std::string Source(const std::string &name, size_t size, char seed) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
        std::string path = scratch_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    ScratchDir scratch_;
    std::string work_ = scratch_ / "work";
    std::string uploads_ = scratch_ / "up";
};

TEST_F(UnderTheGateway, AReceiveThePeerPausedResumesAtItsCheckpoint) {
    std::string kernel = Source("kernel.img", 300000, 1);
    std::string notes = Source("notes.txt", 2000, 2);
    std::string toc = scratch_ / "dist.toc";
    ASSERT_EQ(run_program(KORVO_GATEWAY_PROGRAM, {"--make-toc", toc, kernel, notes}).exit_code, 0);
    std::string out = scratch_ / "out";
    std::vector<std::string> receive{"receive", "dist-9", "--toc", toc, "-o", out};

    Outcome run = Gateway({"--toc", toc, "--command", "pause@100000"}, receive);
    EXPECT_EQ(run.exit_code, 6) << run.out << run.err;
    EXPECT_NE(run.err.find("korvo: the gateway stopped the receive with PAUSE: the progress "
                           "record keeps "),
              std::string::npos)
        << run.err;
    auto record = ProgressValues(work_, "dist-9");
    const std::string checkpoint = record["c_len"];
    EXPECT_EQ(record["paused"], "true");
    ASSERT_FALSE(checkpoint.empty());
    EXPECT_NE(checkpoint, "0");

    run = Gateway({"--toc", toc}, receive);
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find("gateway: TOC of 2 segments, 302000 bytes, resuming at " + checkpoint + "\n"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Received dist-9 into " + out + ": 2 segments"), std::string::npos);
    EXPECT_TRUE(depot_test::ReadBytes(out + "/kernel.img") == depot_test::ReadBytes(kernel));
    EXPECT_TRUE(depot_test::ReadBytes(out + "/notes.txt") == depot_test::ReadBytes(notes));
}

TEST_F(UnderTheGateway, AnUploadArrivesWholeAndARefusalEndsIt) {
    std::string report = Source("install.log", 40000, 3);
    Outcome run = Gateway({"--uploads", uploads_}, {"send", report, "--json"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find("gateway: upload 1: 40000 bytes in 3 chunks (16384 x 2, 7232), kept in " +
                     uploads_ + "/upload-1\n"),
        std::string::npos)
        << run.out;
    EXPECT_TRUE(depot_test::ReadBytes(uploads_ + "/upload-1") == depot_test::ReadBytes(report));
    EXPECT_NE(run.out.find("\"sent_bytes\": 40000"), std::string::npos);

    // From an offset, in the chunk size the peer grants.
    std::string again = scratch_ / "up-again";
    fs::create_directory(again);
    run = Gateway({"--uploads", again, "--grant", "1000"}, {"send", report, "--offset", "37500"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("gateway: upload 1: 2500 bytes in 3 chunks (1000 x 2, 500)"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(depot_test::ReadBytes(again + "/upload-1") ==
                depot_test::ReadBytes(report).substr(37500));

    run = Gateway({"--refuse", "-7@2"}, {"send", report});
    EXPECT_EQ(run.exit_code, 6) << run.out << run.err;
    EXPECT_NE(run.err.find("korvo: the gateway refused the upload at chunk 2 with code -7; 16384 "
                           "bytes were accepted\n"),
              std::string::npos)
        << run.err;

    // The last chunk goes up with the end of the transfer.
    run = Gateway({"--refuse", "-7@3"}, {"send", report});
    EXPECT_EQ(run.exit_code, 6) << run.err;
    EXPECT_NE(run.err.find("refused the upload at its last chunk with code -7; 32768 bytes were "
                           "accepted"),
              std::string::npos)
        << run.err;

    run = Gateway({"--refuse", "-5@0"}, {"send", report});
    EXPECT_EQ(run.exit_code, 6) << run.err;
    EXPECT_NE(run.err.find("refused the upload at the start with code -5"), std::string::npos);

    run = Gateway({}, {"send", (scratch_ / "missing.log")});
    EXPECT_EQ(run.exit_code, 3) << run.err;
}

}  // namespace
}  // namespace cli_test
