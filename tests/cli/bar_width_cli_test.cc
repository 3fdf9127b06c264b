// The progress bar on terminals of different widths: every redraw fits the
// line (a wrapped line leaves a new line behind at each redraw), and the
// bar keeps one width while the figures beside it change.
#include <regex>

#include "cli_test_support.hpp"

namespace cli_test {
namespace {

// Everything `korvo args...` shows on a pseudo-terminal of `columns`.
Outcome OnTerminal(unsigned short columns, const std::vector<std::string> &args,
                   const Options &options) {
    return TerminalRun(args, options, columns).finish();
}

// The texts drawn after each "\r\033[K", without the summary's line end.
std::vector<std::string> Redraws(const std::string &shown) {
    std::vector<std::string> drawn;
    const std::string redraw = "\r\033[K";
    for (size_t at = shown.find(redraw); at != std::string::npos;) {
        size_t next = shown.find(redraw, at + redraw.size());
        std::string text = shown.substr(at + redraw.size(), next - at - redraw.size());
        drawn.push_back(text.substr(0, text.find_first_of("\r\n")));
        at = next;
    }
    return drawn;
}

class BarWidth : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(korvo_init(), 1);
        // Two segments whose figures change while the bar is redrawn: the
        // rate limit spreads the receive over several redraws.
        depot_test::WriteBytes(scratch_ / "kernel.img", std::string(3 << 20, 'k'));
        depot_test::WriteBytes(scratch_ / "notes.txt", "first release\n");
    }
    Outcome Receive(unsigned short columns) {
        std::string id = "width-" + std::to_string(columns);
        return OnTerminal(columns,
                          {"receive", id, "--files", scratch_ / "kernel.img",
                           scratch_ / "notes.txt", "-o", scratch_ / id, "--limit-rate", "8M"},
                          With({{"KORVO_WORK_DIR", scratch_.path()}}));
    }
    ScratchDir scratch_;
};

TEST_F(BarWidth, EveryRedrawFitsTheTerminalAndTheBarStaysPut) {
    if (!terminalHost())
        GTEST_SKIP() << "no pseudo-terminal on this host: the progress bar draws only on one";
    const std::regex bar(R"(\[[#.]+\])");
    for (unsigned short columns : {40, 58, 80, 120}) {
        Outcome run = Receive(columns);
        ASSERT_EQ(run.exit_code, 0) << run.out;
        std::vector<std::string> drawn = Redraws(run.out);
        ASSERT_GE(drawn.size(), 2u) << run.out;
        std::set<size_t> bar_widths;
        for (size_t i = 0; i + 1 < drawn.size(); ++i) {  // the last is the summary
            EXPECT_LT(drawn[i].size(), columns) << columns << " columns: " << drawn[i];
            EXPECT_EQ(drawn[i].rfind("receiving", 0), 0u) << drawn[i];
            std::smatch found;
            if (std::regex_search(drawn[i], found, bar))
                bar_widths.insert(found.length(0));
        }
        EXPECT_LE(bar_widths.size(), 1u) << columns << " columns: the bar changed its width";
        if (columns >= 80) {
            EXPECT_EQ(bar_widths.size(), 1u) << columns << " columns show a bar:\n" << run.out;
            EXPECT_THAT(drawn[0], HasSubstr("/3.00 MiB  ")) << columns;
            EXPECT_THAT(drawn[0], HasSubstr("/s")) << columns;
        } else if (columns <= 58) {
            EXPECT_TRUE(bar_widths.empty()) << columns << " columns leave no room for a bar";
        }
        EXPECT_EQ(drawn.back().rfind("receiving done: 3.00 MiB/3.00 MiB in ", 0), 0u)
            << drawn.back();
        EXPECT_THAT(run.out, HasSubstr("Received width-" + std::to_string(columns) + " into "));
    }
}

}  // namespace
}  // namespace cli_test
