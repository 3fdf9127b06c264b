// korvo progress list and show on records that the library saved.
#include "cli_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace cli_test {
namespace {

class ProgressCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(korvo_init(), 1);
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", work_.path().c_str());
    }
    void TearDown() override { korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", nullptr); }

    // Saves the record of `id` with string and boolean keys; finished ones
    // are marked done.
    static void Save(const std::string &id, std::map<std::string, std::string> texts,
                     std::map<std::string, bool> flags = {}, bool finished = false) {
        mstat *record = mstat_new(id.c_str(), 0);
        ASSERT_NE(record, nullptr);
        for (const auto &[key, value] : texts)
            properties_put_string_dup(mstat_get_properties(record), key.c_str(), value.c_str());
        for (const auto &[key, value] : flags)
            properties_put_boolean_dup(mstat_get_properties(record), key.c_str(), value);
        EXPECT_EQ(mstat_save(record), 0);
        if (finished)
            mstat_done(record);
        mstat_free(record);
    }

    ScratchDir work_;
};

TEST_F(ProgressCommand, ListGivesEachDistributionsStateAndProgress) {
    Save("d-half", {{"t_len", "200"}, {"c_len", "100"}}, {{"close", false}});
    Save("d-paused", {{"t_len", "1000"}, {"c_len", "10"}}, {{"paused", true}, {"close", true}});
    Save("d-error", {{"t_len", "10"}, {"c_len", "0"}, {"err_msg", "disk full"}}, {{"err", true}});
    Save("d-closed", {{"t_len", "10"}, {"c_len", "5"}}, {{"close", true}});
    Save("d-done", {{"t_len", "10"}, {"c_len", "10"}}, {{"close", true}}, true);
    Save("d-whole", {{"t_len", "10"}, {"c_len", "10"}}, {{"close", true}});
    Save("d-new", {});

    Outcome run = korvo({"progress", "list", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    Json listing = run.json();
    EXPECT_EQ(listing["progress_directory"], Shown(work_ / "mstat"));
    std::map<std::string, std::pair<std::string, Json>> seen;
    for (const Json &record : listing["records"])
        seen[record["distribution"]] = {record["state"], record["percent"]};
    EXPECT_EQ(seen, (std::map<std::string, std::pair<std::string, Json>>{
                        {"d-closed", {"interrupted", 50.0}},
                        {"d-done", {"finished", 100.0}},
                        {"d-error", {"in error", 0.0}},
                        {"d-half", {"open", 50.0}},
                        {"d-new", {"open", nullptr}},
                        {"d-paused", {"paused", 1.0}},
                        {"d-whole", {"complete", 100.0}}}));
    EXPECT_EQ(listing["records"][2]["error_message"], "disk full");
    EXPECT_EQ(listing["records"][3]["received_bytes"], 100);

    run = korvo({"progress", "list"});
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "DISTRIBUTION  STATE        DONE  RECEIVED   TOTAL  UPDATED");
    EXPECT_THAT(run.out, HasSubstr("d-half        open          50%     100 B   200 B  "));

    // --work-dir names another endpoint's work directory.
    ScratchDir other;
    run = korvo({"progress", "list", "--work-dir", other.path()});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "No progress records in " + Shown(other.path()) + "/mstat.\n");
}

TEST_F(ProgressCommand, ShowPrintsTheWholeRecord) {
    Save("42", {{"t_len", "300"}, {"c_len", "150"}, {"note", "mine"}}, {{"paused", true}});
    Outcome run = korvo({"progress", "show", "42"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("State         paused\nDone          50% (150 B of 300 B)\n"));
    EXPECT_THAT(run.out, HasSubstr("  note      string      \"mine\"\n"));
    Json record = korvo({"progress", "show", "42", "--json"}).json();
    EXPECT_EQ(record["file"], Shown(work_ / "mstat/42.mds"));
    EXPECT_EQ(record["properties"][0],
              (Json{{"key", "c_len"}, {"type", "string"}, {"value", "150"}}));

    run = korvo({"progress", "show", "43"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_THAT(run.err, HasSubstr("no progress record of \"43\""));
}

TEST_F(ProgressCommand, AnUnreadableRecordIsListedAsSuch) {
    ASSERT_TRUE(std::filesystem::create_directory(work_ / "mstat"));
    depot_test::WriteBytes(work_ / "mstat/bad.mds", "\x01\x02");
    Json listing = korvo({"progress", "list", "--json"}).json();
    ASSERT_EQ(listing["records"].size(), 1u);
    EXPECT_EQ(listing["records"][0]["state"], "unreadable");
    EXPECT_THAT(listing["records"][0]["unreadable"].get<std::string>(), HasSubstr("(message 35)"));
}

TEST_F(ProgressCommand, ColumnsLineUpByDisplayWidth) {
    for (const char *id : {"\xe6\x97\xa5\xe6\x9c\xac",  // two wide characters
                           "caf\x65\xcc\x81",           // e and a combining accent
                           "plain-id"})
        Save(id, {{"t_len", "10"}, {"c_len", "5"}});
    Outcome run = korvo({"progress", "list"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    // Every row's state starts in the column of the heading's.
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    ASSERT_EQ(line.rfind("DISTRIBUTION  STATE", 0), 0u) << line;
    int rows = 0;
    while (std::getline(lines, line)) {
        size_t state = line.find("open");
        ASSERT_NE(state, std::string::npos) << line;
        std::string before = line.substr(0, state);
        size_t wide = before.find("\xe6\x97\xa5") != std::string::npos ? 2 : 0;
        size_t combining = before.find("\xcc\x81") != std::string::npos ? 1 : 0;
        size_t characters = 0;
        for (unsigned char c : before)
            characters += (c & 0xC0) != 0x80;
        EXPECT_EQ(characters + wide - combining, 14u) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 3);
}

}  // namespace
}  // namespace cli_test
