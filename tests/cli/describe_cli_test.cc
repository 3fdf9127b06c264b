// korvo describe: the description files it writes are what receive --dir
// reads; it writes only inside the directory, replaces only with --force.
// And the messages about a description or TOC file that does not decode,
// which name the file.
#include <sys/stat.h>
#include <unistd.h>

#include "cli_test_support.hpp"

namespace cli_test {
namespace {

class Describe : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(korvo_init(), 1);
        dir_ = scratch_ / "release-1";
        ASSERT_TRUE(std::filesystem::create_directory(dir_));
        depot_test::WriteBytes(dir_ + "/kernel.img", std::string(5000, 'k'));
        depot_test::WriteBytes(dir_ + "/notes.txt", "first release\n");
    }
    // The "segment" of a description file as id, version, location.
    static std::vector<std::string> Described(const std::string &path, bool marked = false) {
        Properties file{};
        if (marked)
            properties_load_improved(&file, path.c_str());
        else
            properties_load_without_len(&file, path.c_str());
        const Properties *segment = properties_get_properties(&file, "segment");
        std::vector<std::string> fields;
        for (const char *key : {"id", "version", "location"}) {
            const char *value = properties_get_string2(segment, key, nullptr);
            fields.push_back(value != nullptr ? value : "(none)");
        }
        properties_delete(&file);
        return fields;
    }
    Options Work() { return With({{"KORVO_WORK_DIR", scratch_.path()}}); }

    ScratchDir scratch_;
    std::string dir_;
};

TEST_F(Describe, WritesWhatReceiveDirReads) {
    Outcome run = korvo({"describe", dir_});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "Described 2 segments in " + dir_ + ": kernel.img.toc notes.txt.toc\n");
    EXPECT_EQ(Described(dir_ + "/kernel.img.toc"),
              (std::vector<std::string>{"kernel.img", "1", "kernel.img"}));

    run = korvo({"-q", "receive", "rel-1", "--dir", dir_, "-o", scratch_ / "out"}, Work());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(depot_test::ReadBytes(scratch_ / "out/kernel.img"), std::string(5000, 'k'));
    EXPECT_EQ(depot_test::ReadBytes(scratch_ / "out/notes.txt"), "first release\n");

    // A description of one file in the marked layout, with an id and a
    // version of the user's.
    run = korvo(
        {"describe", dir_, "notes.txt", "--marked", "--id", "notes", "--version", "2.0", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.json()["descriptions"][0]["file"], dir_ + "/notes.txt.itc");
    EXPECT_EQ(Described(dir_ + "/notes.txt.itc", true),
              (std::vector<std::string>{"notes", "2.0", "notes.txt"}));
}

TEST_F(Describe, ReplacesOnlyWithForceAndStaysInsideTheDirectory) {
    ASSERT_EQ(korvo({"describe", dir_, "notes.txt"}).exit_code, 0);
    auto before = Snapshot(dir_);
    Outcome run = korvo({"describe", dir_, "--version", "9"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "korvo: \"" + dir_ + "/notes.txt.toc\" exists; --force replaces it\n");
    EXPECT_EQ(Snapshot(dir_), before) << "a refusal writes nothing, not even the other file";
    ASSERT_EQ(korvo({"describe", dir_, "--version", "9", "--force"}).exit_code, 0);
    EXPECT_EQ(Described(dir_ + "/notes.txt.toc")[1], "9");

    // Data files are named by their name in the directory; links and other
    // kinds are refused (and skipped when the directory is listed).
    depot_test::WriteBytes(scratch_ / "outside", "x");
    EXPECT_EQ(korvo({"describe", dir_, "../outside"}).exit_code, 2);
#ifndef _WIN32  // Windows has no FIFOs, and its links need a privilege to make
    ASSERT_EQ(::symlink((scratch_ / "outside").c_str(), (dir_ + "/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
    run = korvo({"describe", dir_, "link"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("is not a regular file (links are not followed)"));
    EXPECT_EQ(korvo({"describe", dir_, "fifo"}).exit_code, 1);
#endif
    EXPECT_EQ(korvo({"describe", dir_, "missing"}).exit_code, 3);
    EXPECT_EQ(korvo({"describe", scratch_ / "no-such-dir"}).exit_code, 3);
    EXPECT_EQ(korvo({"describe", dir_, "a", "b", "--id", "x"}).exit_code, 2);
    run = korvo({"describe", dir_, "--force", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.json()["descriptions"].size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/link.toc"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/fifo.toc"));
}

TEST_F(Describe, AFileThatDoesNotDecodeIsNamed) {
    depot_test::WriteBytes(dir_ + "/broken.toc", std::string("\x07\x01garbage", 9));
    Outcome run = korvo({"-q", "receive", "rel-1", "--dir", dir_, "-o", scratch_ / "out"}, Work());
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err,
                HasSubstr("korvo: cannot read the description file \"" + dir_ + "/broken.toc\": "));
    EXPECT_THAT(run.err, HasSubstr("(message 35)"));

    run = korvo({"-q", "receive", "rel-1", "--toc", dir_ + "/broken.toc", "--from", "remote", "-o",
                 scratch_ / "out"},
                Work());
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err,
                HasSubstr("korvo: cannot read the TOC file \"" + dir_ + "/broken.toc\": "));
}

}  // namespace
}  // namespace cli_test
