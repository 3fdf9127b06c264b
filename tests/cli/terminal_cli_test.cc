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
    EXPECT_THAT(drawn, HasSubstr("] "));
    EXPECT_THAT(drawn, HasSubstr("%  "));
    EXPECT_THAT(drawn, HasSubstr("/30 entries  "));
    EXPECT_THAT(drawn, HasSubstr(" entries/s"));
    EXPECT_LE(drawn.size() - 4, 100u) << "the bar is wider than the terminal";
    // It gives way to the summary, then the report.
    EXPECT_THAT(run.out, HasSubstr("\r\033[Kverifying done: 30/30 entries in "));
    EXPECT_THAT(run.out, HasSubstr("Verified 30 entries of "));
}

TEST_F(LongWork, APipeGetsPlainLinesAndQuietGetsNone) {
    Outcome run = korvo(Verify(), With({{"KORVO_PROGRESS_INTERVAL", "0"}}));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_THAT(run.err, Not(HasSubstr("\r")));
    EXPECT_THAT(run.err, Not(HasSubstr("\033")));
    EXPECT_THAT(run.err, HasSubstr("verifying: 3% (1/30 entries), "));
    EXPECT_THAT(run.err, HasSubstr("verifying: 100% (30/30 entries), "));
    EXPECT_THAT(run.err, HasSubstr("\nverifying done: 30/30 entries in "));

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
    EXPECT_THAT(run.out, HasSubstr("korvo: stopping at the next safe point"));
    EXPECT_THAT(run.out, HasSubstr("verifying interrupted: 1/30 entries"));
    EXPECT_THAT(run.out, HasSubstr("korvo: verify stopped after 1 entries; nothing was changed"));
    EXPECT_EQ(Snapshot(dir_), before);
    // The depot's locks were let go: the next command walks at once.
    EXPECT_EQ(korvo(Verify()).exit_code, 0);
}

}  // namespace
}  // namespace cli_test
