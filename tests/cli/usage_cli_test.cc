// What the korvo command says when its command line is wrong, when a value
// is out of range, and when its output cannot be written.
#include "cli_test_support.hpp"

namespace cli_test {
namespace {

// Runs korvo with standard output on `target` (a file or device name) and
// its error on a pipe.
Outcome KorvoWritingTo(const std::string &target, const std::vector<std::string> &args) {
    std::vector<std::string> argv{KORVO_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    korvo::test::Pipe err;
    korvo::test::Child child(
        korvo::test::ProgramArgs{argv},
        {.outputFile = target, .standardError = err.writeEnd(), .emptyInput = true});
    err.closeWrite();
    Outcome run;
    run.err = err.receiveAll();
    run.exit_code = detail::wait_bounded(child, 60);
    return run;
}

TEST(UsageErrors, NameWhatWasWrongWithASuggestion) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    for (const Case &c : std::vector<Case>{
             {{"depto", "list"},
              "korvo: unknown subcommand 'depto'; did you mean 'depot'?\n"
              "Run 'korvo --help' for the subcommands and options.\n"},
             {{"depot", "lsit"},
              "korvo depot: unknown subcommand 'lsit'; did you mean 'list'?\n"
              "Run 'korvo depot --help' for the subcommands and options.\n"},
             {{"depot", "list", "--jsn"},
              "korvo depot list: unknown option '--jsn'; did you mean '--json'?\n"
              "Run 'korvo depot list --help' for its options.\n"},
             {{"depot", "list", "--dpot=x"},
              "korvo depot list: unknown option '--dpot'; did you mean '--depot'?\n"
              "Run 'korvo depot list --help' for its options.\n"},
             {{"--verbos", "catalog"},
              "korvo: unknown option '--verbos'; did you mean '--verbose'?\n"
              "Run 'korvo --help' for its options.\n"},
             {{"nonsense"},
              "korvo: unknown subcommand 'nonsense' (it has depot, props, progress, catalog, "
              "describe, receive, send)\n"
              "Run 'korvo --help' for the subcommands and options.\n"},
             // What the user typed is shown, not sent to the terminal.
             {{"depot", "l\x1b[2J"},
              "korvo depot: unknown subcommand 'l\\x1b[2J' (it has list, show, usage, verify, "
              "purge)\n"
              "Run 'korvo depot --help' for the subcommands and options.\n"},
             {{"depot"},
              "korvo depot: name a subcommand: list, show, usage, verify, purge\n"
              "Run 'korvo depot --help' for what each does.\n"},
             {{"catalog", "1", "2"},
              "korvo catalog: unexpected argument '2'\n"
              "Run 'korvo catalog --help' for its arguments.\n"},
         }) {
        Outcome run = korvo(c.args);
        EXPECT_EQ(run.exit_code, 2) << c.args[0];
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
    // Other wrong lines exit with 2 too and say something.
    for (const auto &args : std::vector<std::vector<std::string>>{
             {}, {"depot", "list", "--bogus"}, {"catalog", "x"}}) {
        Outcome wrong = korvo(args);
        EXPECT_EQ(wrong.exit_code, 2) << testing::PrintToString(args);
        EXPECT_NE(wrong.err, "") << testing::PrintToString(args);
    }
    // The parser's own findings keep their words, after the subcommand.
    Outcome run = korvo({"depot", "show", "only-an-id"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err.rfind("korvo depot show: ", 0), 0u) << run.err;
    EXPECT_THAT(run.err, HasSubstr("version"));
}

TEST(UsageErrors, ValuesOutOfRangeAreRefusedNotWrapped) {
    Outcome run = korvo({"send", "file", "--offset", "-1"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_THAT(run.err, HasSubstr("wants a byte offset of 0 or more, not -1"));
    EXPECT_THAT(run.err, Not(HasSubstr("18446744073709551615")));
    EXPECT_EQ(korvo({"send", "file", "--offset", "+5"}).exit_code, 2);

    ScratchDir scratch;
    depot_test::WriteBytes(scratch / "data", "twelve bytes");
    Options work = With({{"KORVO_WORK_DIR", scratch.path()}});
    for (const char *wrong : {"-1M", "2X", "1.5.5K", "0x10", "20000000T"}) {
        run = korvo({"-q", "receive", "d1", "--files", scratch / "data", "-o", scratch / "out",
                     "--limit-rate", wrong},
                    work);
        EXPECT_EQ(run.exit_code, 2) << wrong;
        EXPECT_THAT(run.err,
                    HasSubstr("--limit-rate wants bytes per second (65536, 64K, 1.5M, 2G, 1T)"));
    }
    for (const char *right : {"1T", "2g", "1.5GiB", "64K"}) {
        run = korvo({"-q", "receive", std::string("d-") + right, "--files", scratch / "data", "-o",
                     scratch / "out", "--limit-rate", right},
                    work);
        EXPECT_EQ(run.exit_code, 0) << right << ": " << run.err;
    }
}

TEST(OutputErrors, AFileTakesTheListingAndAFullDiskFailsTheCommand) {
    // A file behind standard output takes the listing without a word.
    ScratchDir scratch;
    Outcome run = KorvoWritingTo(scratch / "listing", {"catalog"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");

    if (fullDevice().empty())
        GTEST_SKIP() << "this host has no device that fails writes as a full disk";
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"catalog"}, {"catalog", "36"}, {"catalog", "--json"}, {"--help"}}) {
        run = KorvoWritingTo(fullDevice(), args);
        EXPECT_EQ(run.exit_code, 1) << args[0];
        EXPECT_EQ(run.err, "korvo: cannot write to standard output: No space left on device\n");
    }
    // A failure keeps its own exit code and message, after the write error.
    run = KorvoWritingTo(fullDevice(), {"catalog", "999"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_THAT(run.err, HasSubstr("the catalog holds messages 1 to 211"));
}

}  // namespace
}  // namespace cli_test
