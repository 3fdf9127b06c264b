// What long work shows: a progress bar redrawn in place under a real
// pseudo-terminal, plain periodic lines on a pipe, nothing with --quiet;
// and Ctrl-C, which stops the work at a safe point.
#include "cli_test_support.hpp"

namespace cli_test {
namespace {

class LongWork : public DepotFixture {
  protected:
    void SetUp() override {
        DepotFixture::SetUp();
        for (int i = 0; i < 30; ++i)
            Store("seg-" + std::to_string(i), "1", "data");
    }
    std::vector<std::string> Verify() { return {"depot", "verify", "--depot", dir_}; }
};

TEST_F(LongWork, ATerminalShowsABarRedrawnInPlace) {
    if (!terminalHost())
        GTEST_SKIP() << "no pseudo-terminal on this host: the progress bar draws only on one";
    TerminalRun terminal(Verify());
    Outcome run = terminal.finish();
    EXPECT_EQ(run.exit_code, 0) << run.out;
    // The bar: redrawn from the start of the line, with its figures.
    size_t bar = run.out.find("\r\033[Kverifying [#");
    ASSERT_NE(bar, std::string::npos) << run.out;
    std::string drawn = run.out.substr(bar, run.out.find('\r', bar + 1) - bar);
    EXPECT_NE(drawn.find("] "), std::string::npos);
    EXPECT_NE(drawn.find("%  "), std::string::npos);
    EXPECT_NE(drawn.find("/30 entries  "), std::string::npos) << drawn;
    EXPECT_NE(drawn.find(" entries/s"), std::string::npos) << drawn;
    EXPECT_LE(drawn.size() - 4, 100u) << "the bar is wider than the terminal";
    // It gives way to the summary, then the report.
    EXPECT_NE(run.out.find("\r\033[Kverifying done: 30/30 entries in "), std::string::npos);
    EXPECT_NE(run.out.find("Verified 30 entries of "), std::string::npos);
}

TEST_F(LongWork, APipeGetsPlainLinesAndQuietGetsNone) {
    Outcome run = korvo(Verify(), With({{"KORVO_PROGRESS_INTERVAL", "0"}}));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
    EXPECT_EQ(run.err.find('\033'), std::string::npos);
    EXPECT_NE(run.err.find("verifying: 3% (1/30 entries), "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("verifying: 100% (30/30 entries), "), std::string::npos);
    EXPECT_NE(run.err.find("\nverifying done: 30/30 entries in "), std::string::npos);

    // Lines come an interval apart (5 s by default); within the first one
    // only the end shows.
    run = korvo(Verify(), With({{"KORVO_PROGRESS_INTERVAL", "3600"}}));
    EXPECT_EQ(run.err.substr(0, 31), "verifying done: 30/30 entries i") << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);

    std::vector<std::string> quiet = Verify();
    quiet.insert(quiet.begin(), "--quiet");
    run = korvo(quiet);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(LongWork, CtrlCStopsAVerifyAtASafePointAndChangesNothing) {
    if (!terminalHost())
        GTEST_SKIP() << "no pseudo-terminal on this host to send Ctrl-C from";
    auto before = Snapshot(dir_);
    // The walk waits for the enumerators' lock that the test holds, so the
    // signal arrives in the middle of the work.
    HeldLock walks("ENUM");
    TerminalRun terminal(Verify());
    ASSERT_TRUE(terminal.catchesInterrupt());
    ASSERT_TRUE(terminal.interrupt());
    walks.release();
    Outcome run = terminal.finish();
    EXPECT_EQ(run.exit_code, 130) << run.out;
    EXPECT_NE(run.out.find("korvo: stopping at the next safe point"), std::string::npos);
    EXPECT_NE(run.out.find("verifying interrupted: 1/30 entries"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("korvo: verify stopped after 1 entries; nothing was changed"),
              std::string::npos);
    EXPECT_EQ(Snapshot(dir_), before);
    // The depot's locks were let go: the next command walks at once.
    EXPECT_EQ(korvo(Verify()).exit_code, 0);
}

}  // namespace
}  // namespace cli_test
