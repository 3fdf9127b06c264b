// korvo receive and korvo send under the real gateway peer, which starts
// the command with the channel in its environment: a receive the gateway
// pauses resumes at the checkpoint on the next run, an upload arrives
// whole, and a refused one ends with the refusal.
#include "receive_fixture.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class UnderTheGateway : public ReceiveFixture {
  protected:
    void SetUp() override {
        ReceiveFixture::SetUp();
        fs::create_directory(uploads_);
    }
    // Runs the peer with `options`, starting `korvo command...`.
    Outcome Gateway(std::vector<std::string> options, const std::vector<std::string> &command) {
        options.insert(options.end(), {"--timeout", "30", "--", KORVO_PROGRAM});
        options.insert(options.end(), command.begin(), command.end());
        return run_program(KORVO_GATEWAY_PROGRAM, options, With({{"KORVO_WORK_DIR", work_}}));
    }

    std::string uploads_ = scratch_ / "up";
};

TEST_F(UnderTheGateway, AReceiveThePeerPausedResumesAtItsCheckpoint) {
    std::string kernel = Source("kernel.img", 300000, 1);
    std::string notes = Source("notes.txt", 2000, 2);
    std::string toc = scratch_ / "dist.toc";
    ASSERT_EQ(run_program(KORVO_GATEWAY_PROGRAM, {"--make-toc", toc, kernel, notes}).exit_code, 0);
    std::vector<std::string> receive{"receive", "dist-9", "--toc", toc, "-o", out_};

    Outcome run = Gateway({"--toc", toc, "--command", "pause@100000"}, receive);
    EXPECT_EQ(run.exit_code, 6) << run.out << run.err;
    EXPECT_THAT(run.err,
                HasSubstr("korvo: the gateway stopped the receive with PAUSE: the progress "
                          "record keeps "));
    auto record = ProgressValues(work_, "dist-9");
    const std::string checkpoint = record["c_len"];
    EXPECT_EQ(record["paused"], "true");
    ASSERT_FALSE(checkpoint.empty());
    EXPECT_NE(checkpoint, "0");

    run = Gateway({"--toc", toc}, receive);
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("gateway: TOC of 2 segments, 302000 bytes, resuming at " +
                                   checkpoint + "\n"));
    EXPECT_THAT(run.out, HasSubstr("Received dist-9 into " + out_ + ": 2 segments"));
    ExpectSame(kernel, "kernel.img");
    ExpectSame(notes, "notes.txt");
}

TEST_F(UnderTheGateway, AnUploadArrivesWholeAndARefusalEndsIt) {
    std::string report = Source("install.log", 40000, 3);
    Outcome run = Gateway({"--uploads", uploads_}, {"send", report, "--json"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_THAT(run.out,
                HasSubstr("gateway: upload 1: 40000 bytes in 3 chunks (16384 x 2, 7232), kept in " +
                          uploads_ + "/upload-1\n"));
    ExpectSameBytes(report, uploads_ + "/upload-1");
    EXPECT_THAT(run.out, HasSubstr("\"sent_bytes\": 40000"));

    // From an offset, in the chunk size the peer grants.
    std::string again = scratch_ / "up-again";
    fs::create_directory(again);
    run = Gateway({"--uploads", again, "--grant", "1000"}, {"send", report, "--offset", "37500"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("gateway: upload 1: 2500 bytes in 3 chunks (1000 x 2, 500)"));
    EXPECT_TRUE(depot_test::ReadBytes(again + "/upload-1") ==
                depot_test::ReadBytes(report).substr(37500));

    // The last chunk goes up with the end of the transfer.
    for (const auto &[refusal, says] : std::vector<std::pair<std::string, std::string>>{
             {"-7@2",
              "korvo: the gateway refused the upload at chunk 2 with code -7; 16384 bytes "
              "were accepted\n"},
             {"-7@3",
              "refused the upload at its last chunk with code -7; 32768 bytes were accepted"},
             {"-5@0", "refused the upload at the start with code -5"}}) {
        run = Gateway({"--refuse", refusal}, {"send", report});
        EXPECT_EQ(run.exit_code, 6) << refusal << ": " << run.out << run.err;
        EXPECT_THAT(run.err, HasSubstr(says)) << refusal;
    }

    run = Gateway({}, {"send", (scratch_ / "missing.log")});
    EXPECT_EQ(run.exit_code, 3) << run.err;
}

}  // namespace
}  // namespace cli_test
