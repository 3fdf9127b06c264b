// korvo depot list, show, usage, verify and purge, run as a user runs them
// on a depot that the library filled.
#include <fstream>

#include "cli_test_support.hpp"

namespace cli_test {
namespace {

using depot_test::WriteBytes;

class DepotCommand : public DepotFixture {};

std::vector<std::string> Ids(const Json &entries) {
    std::vector<std::string> ids;
    for (const Json &entry : entries)
        ids.push_back(entry["id"].get<std::string>() + " " + entry["version"].get<std::string>());
    return ids;
}

TEST_F(DepotCommand, ListShowsEveryEntryWithItsFields) {
    std::string held = Store("seg-b", "1.0", "hello", 2);
    Store("seg-a", "2.0", "pending data", 0);
    Store("old", "1", "x", 1, 1000);

    Outcome run = Korvo({"depot", "list", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    Json listing = run.json();
    EXPECT_EQ(listing["depot"], dir_);
    ASSERT_EQ(Ids(listing["entries"]),
              (std::vector<std::string>{"old 1", "seg-a 2.0", "seg-b 1.0"}));
    const Json &b = listing["entries"][2];
    EXPECT_EQ(b["state"], "complete");
    EXPECT_EQ(b["reference_count"], 2);
    EXPECT_EQ(b["size"], 5);
    EXPECT_EQ(b["data_file"], held);
    EXPECT_EQ(b["expired"], false);
    EXPECT_EQ(listing["entries"][1]["state"], "pending");
    EXPECT_EQ(listing["entries"][0]["expired"], true);
    EXPECT_EQ(listing["entries"][0]["deadline"], 1000);

    run = Korvo({"depot", "list"});
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')).substr(0, 16), "ID     VERSION  ");
    EXPECT_THAT(run.out, HasSubstr("(expired)"));
    EXPECT_THAT(run.out, HasSubstr(held));
    EXPECT_EQ(run.err, "");
}

TEST_F(DepotCommand, AnEmptyDepotAndAMissingOneAreTold) {
    Outcome run = Korvo({"depot", "list"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "The depot " + dir_ + " holds no entries.\n");

    std::string missing = scratch_ / "nowhere";
    run = korvo({"depot", "list", "--depot", missing});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_THAT(run.err, HasSubstr("cannot use the depot directory " + missing));
    EXPECT_FALSE(depot_test::Exists(missing)) << "a reading command created the depot";
}

TEST_F(DepotCommand, TheDefaultDepotIsTheConfiguredOne) {
    Store("seg", "1", "data");
    std::string config = scratch_ / "endpoint.cfg";
    WriteBytes(config, "# endpoint\ndepot_dir = " + dir_ + "\n");
    Outcome run = korvo({"depot", "list", "--json"}, With({{"KORVO_CONFIG_FILE", config}}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.json()["depot"], dir_);

    // Without a depot_dir, QEL_DATDIR's "depot" directory, joined with '/'
    // as the library's own depot check joins it on every host.
    WriteBytes(config, "other=1\n");
    run = korvo({"depot", "list", "--json"},
                With({{"KORVO_CONFIG_FILE", config}, {"QEL_DATDIR", scratch_.path()}}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.json()["depot"], scratch_.path() + "/depot");

    run = korvo({"depot", "list"}, With({{"KORVO_CONFIG_FILE", config}, {"QEL_DATDIR", ""}}));
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_THAT(run.err, HasSubstr("has no depot_dir"));
    EXPECT_THAT(run.err, HasSubstr("--depot DIR"));
}

TEST_F(DepotCommand, ShowPrintsOneEntryAndTheSegmentsProperties) {
    std::string data_file = Store("seg-1", "1.0", "12345", 1);
    Outcome run = Korvo({"depot", "show", "seg-1", "1.0"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Segment          seg-1 1.0\n"));
    EXPECT_THAT(run.out, HasSubstr("State            complete (1)\n"));
    EXPECT_THAT(run.out, HasSubstr("Data file        " + data_file + " (5 bytes)\n"));
    EXPECT_THAT(run.out, HasSubstr("\n  size      long        5\n"));

    run = Korvo({"depot", "show", "seg-1", "1.0", "--json"});
    ASSERT_EQ(run.exit_code, 0);
    Json entry = run.json();
    EXPECT_EQ(entry["properties"][1], (Json{{"key", "size"}, {"type", "long"}, {"value", 5}}));

    run = Korvo({"depot", "show", "seg-1", "9.9"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_THAT(run.err, HasSubstr("is not in the depot"));
}

TEST_F(DepotCommand, UsageCountsWhatTheDepotHolds) {
    Store("a", "1", std::string(1025, 'a'));   // 2 KB
    Store("b", "1", std::string(10, 'b'), 3);  // 1 KB
    // A pending segment of 5000 bytes of which 1000 are written: 4 KB to come.
    Store("c", "1", std::string(1000, 'c'), 0, 0, 5000);
    Outcome run = Korvo({"depot", "usage", "--limit", "100", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    Json usage = run.json();
    EXPECT_EQ(usage["entries"]["total"], 3);
    EXPECT_EQ(usage["entries"]["complete"], 2);
    EXPECT_EQ(usage["entries"]["pending"], 1);
    EXPECT_EQ(usage["data_bytes"], 2035);
    EXPECT_EQ(usage["permanent_storage_kb"], 4);
    EXPECT_EQ(usage["reserved_kb"], 4);
    EXPECT_EQ(usage["available_kb"], 92);
}

TEST_F(DepotCommand, VerifyOfASoundDepotFindsNothingAndChangesNothing) {
    Store("a", "1", "aaa");
    Store("b", "2", "bb", 2);
    Store("c", "3", "c", 0);
    auto before = Snapshot(dir_);
    Outcome run = Korvo({"depot", "verify"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "Verified 3 entries of " + dir_ + ": no problems, no stray files.\n");
    EXPECT_EQ(Snapshot(dir_), before);
}

TEST_F(DepotCommand, VerifyNamesEveryProblemAndStrayFileAndChangesNothing) {
    std::string lost = Store("lost", "1", "data");
    std::string cut = Store("cut", "1", "0123456789");
    Store("writing", "1", "0123", 0, 0, 100);  // pending: short is expected
    ASSERT_TRUE(std::filesystem::remove(lost));
    std::filesystem::resize_file(cut, 4);
    WriteBytes(dir_ + "/notes.txt", "mine");
    // Bucket numbers stay below 251: these names belong to no segment.
    WriteBytes(dir_ + "/99999998.0.xml", "<<id>broken");
    WriteBytes(dir_ + "/99999999.0.dat", "orphan");
    // A record left half-written by a process that has ended (no process
    // id is that large).
    WriteBytes(dir_ + "/99999997.0.xml.999999999.1.tmp", "half");
    ASSERT_TRUE(std::filesystem::create_directory(dir_ + "/sub"));
    auto before = Snapshot(dir_);

    Outcome run = Korvo({"depot", "verify", "--json"});
    EXPECT_EQ(run.exit_code, 4) << run.err;
    Json report = run.json();
    EXPECT_EQ(report["entries_checked"], 3);
    std::map<std::string, std::string> problems, strays;
    for (const Json &p : report["problems"])
        problems[p["name"]] = p["kind"];
    for (const Json &s : report["stray_files"])
        strays[s["name"]] = s["kind"];
    auto name = [](const std::string &path) {
        return std::filesystem::path(path).filename().string();
    };
    auto entry_of = [&](const std::string &data) {
        return name(data.substr(0, data.size() - 3) + "xml");
    };
    EXPECT_EQ(problems,
              (std::map<std::string, std::string>{{entry_of(lost), "missing-data-file"},
                                                  {entry_of(cut), "size-mismatch"},
                                                  {"99999998.0.xml", "damaged-entry-file"}}));
    EXPECT_EQ(strays, (std::map<std::string, std::string>{
                          {"notes.txt", "stray-file"},
                          {"99999999.0.dat", "orphan-data-file"},
                          {"99999997.0.xml.999999999.1.tmp", "temporary-file"},
                          {"sub", "stray-file"}}));
    EXPECT_EQ(Snapshot(dir_), before);

    run = Korvo({"depot", "verify"});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_THAT(run.out, HasSubstr(": 3 problems, 4 stray files.\nProblems:\n"));
    EXPECT_THAT(run.out, HasSubstr("holds 4 bytes; the segment has 10"));
}

TEST_F(DepotCommand, PurgeRunsTheDepotsPurgesAndADryRunRemovesNothing) {
    Store("fresh", "1", "f", 1);
    std::string expired = Store("expired", "1", "e", 2, 1000);
    // Pending, and its writer (this test) has let it go.
    std::string abandoned = Store("abandoned", "1", "p", 0);
    auto before = Snapshot(dir_);

    Outcome run = Korvo({"depot", "purge", "--expired", "--dry-run", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Ids(run.json()["would_remove"]),
              (std::vector<std::string>{"abandoned 1", "expired 1"}));
    run = Korvo({"depot", "purge", "--unreferenced", "-n", "--json"});
    EXPECT_EQ(Ids(run.json()["would_remove"]), (std::vector<std::string>{"abandoned 1"}));
    EXPECT_EQ(Snapshot(dir_), before);

    run = Korvo({"depot", "purge", "--unreferenced"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("removed 1 entry."));
    EXPECT_FALSE(depot_test::Exists(abandoned));
    EXPECT_TRUE(depot_test::Exists(expired));

    run = Korvo({"depot", "purge", "--expired", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Ids(run.json()["removed"]), (std::vector<std::string>{"expired 1"}));
    EXPECT_FALSE(depot_test::Exists(expired));
    EXPECT_EQ(Ids(Korvo({"depot", "list", "--json"}).json()["entries"]),
              (std::vector<std::string>{"fresh 1"}));

    run = Korvo({"depot", "purge"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_THAT(run.err, HasSubstr("--expired or --unreferenced"));
}

TEST_F(DepotCommand, AnExpiryPurgeLeavesAPendingEntryWhoseWriterLives) {
    DepotEntry *writing = DepotAddEntry(depot_, "writing", "1", DepotPropertyBlock{nullptr, 0});
    ASSERT_NE(writing, nullptr);
    Outcome run = Korvo({"depot", "purge", "--expired", "-n", "--json"});
    EXPECT_EQ(run.json()["would_remove"].size(), 0u) << run.out;
    ASSERT_EQ(Korvo({"depot", "purge", "--expired"}).exit_code, 0);
    EXPECT_TRUE(depot_test::Exists(writing->location));
    KesStatus status;
    DepotFreeEntry(&status, depot_, writing);
}

TEST_F(DepotCommand, IdsThatAreNotTextStillGiveValidJson) {
    Store("seg\xff\x01", "1", "data");
    Outcome run = Korvo({"depot", "list", "--json"});
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.json()["entries"][0]["id"], "seg\xef\xbf\xbd\x01");
    run = Korvo({"depot", "list"});
    EXPECT_THAT(run.out, HasSubstr("seg\xff\\x01")) << "control bytes reach the terminal";
}

}  // namespace
}  // namespace cli_test
