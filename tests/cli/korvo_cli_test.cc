// The korvo command as a whole: its help and version, and korvo catalog.
#include "cli_test_support.hpp"
#include "properties/errors/korvo_catalog.h"

namespace cli_test {
namespace {

TEST(KorvoCommand, EverySubcommandHelpsWithExamples) {
    for (const auto &args : std::vector<std::vector<std::string>>{{"depot", "list"},
                                                                  {"depot", "show"},
                                                                  {"depot", "usage"},
                                                                  {"depot", "verify"},
                                                                  {"depot", "purge"},
                                                                  {"props", "show"},
                                                                  {"props", "set"},
                                                                  {"props", "convert"},
                                                                  {"progress", "list"},
                                                                  {"progress", "show"},
                                                                  {"catalog"},
                                                                  {"receive"},
                                                                  {"send"}}) {
        std::vector<std::string> help = args;
        help.push_back("--help");
        Outcome run = korvo(help);
        EXPECT_EQ(run.exit_code, 0) << args[0];
        EXPECT_THAT(run.out, HasSubstr("\nExamples:\n  korvo " + args[0]))
            << args[0] << " " << args.back() << ":\n"
            << run.out;
    }
    Outcome run = korvo({"--help"});
    EXPECT_THAT(run.out, HasSubstr("Exit codes: 0 done, 1 failed"));
    EXPECT_EQ(korvo({"--version"}).out, "korvo " KORVO_VERSION_TEXT "\n");
}

TEST(KorvoCommand, CatalogPrintsMessagesByNumber) {
    Outcome run = korvo({"catalog", "36"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "Unable to find the property associated with the key %1$s.\n");

    run = korvo({"catalog"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), KORVO_CATALOG_MESSAGES);
    EXPECT_THAT(run.out,
                HasSubstr("\n 44  An error occurred while creating the file cache due to one or "
                          "more of the following parameters: \\n maxCacheSize"));

    Json all = korvo({"catalog", "--json"}).json();
    ASSERT_EQ(all["messages"].size(), static_cast<size_t>(KORVO_CATALOG_MESSAGES));
    for (int n = 1; n <= KORVO_CATALOG_MESSAGES; ++n)
        EXPECT_EQ(all["messages"][n - 1]["text"], Korvo2Catalog[n]) << n;
    EXPECT_EQ(korvo({"catalog", "179", "--json"}).json()["text"], Korvo2Catalog[179]);

    for (const char *missing : {"0", "212", "-1"}) {
        run = korvo({"catalog", missing});
        EXPECT_EQ(run.exit_code, 3) << missing;
        EXPECT_THAT(run.err, HasSubstr("the catalog holds messages 1 to 211"));
    }
}

}  // namespace
}  // namespace cli_test
