// What korvo receive refuses to do, and says so before it writes a byte:
// destroy its own source (an output that is an input), write through a
// link or into a FIFO, device or directory that stands where an output
// belongs, share a distribution with a second receive, keep a record it
// cannot keep, or trust a record that is not one. Each refusal names the
// file and leaves everything as it was.
#include <sys/stat.h>

#include "receive_fixture.hpp"
#include "tests/support/test_process.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class ReceiveGuards : public ReceiveFixture {
  protected:
    void SetUp() override {
        ReceiveFixture::SetUp();
        fs::create_directory(out_);
        bytes_ = cds_test::package_bytes(50000, 41);
        cds_test::write_file(input_, bytes_);
    }
    std::vector<std::string> Args(const std::string &id = "g1") const {
        return {"receive", id, "--files", input_, "-o", out_};
    }
    // The source folder's description of its data file a.bin, the segment
    // "a.bin" version 1.
    void DescribeInput() const { DescribeSegment(src_ + "/a.toc", "a.bin", "1", "a.bin"); }

    std::string input_ = src_ + "/a.bin";
    std::string bytes_;
};

TEST_F(ReceiveGuards, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
    Outcome run = korvo({"receive", "g1", "--files", input_, "-o", src_}, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: the output " + src_ + "/a.bin is the file " + input_ +
                                   " that segment a.bin is read from: receiving would destroy it"));
    EXPECT_TRUE(depot_test::ReadBytes(input_) == bytes_);

    // A distribution directory received into itself, its description
    // naming the data file as the segment.
    DescribeInput();
    run = korvo({"receive", "g2", "--dir", src_, "-o", src_}, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("receiving would destroy it"));
    EXPECT_TRUE(depot_test::ReadBytes(input_) == bytes_);
}

TEST_F(ReceiveGuards, OnlyRegularFilesOfItsOwnAreWrittenInTheOutputFolder) {
    std::string victim = scratch_ / "victim.txt";
    cds_test::write_file(victim, "keep me");
    struct Case {
        std::function<void(const std::string &)> place;
        std::string says;
    };
    std::vector<Case> cases{
        {[&](const std::string &at) { fs::create_hard_link(victim, at); },
         "has 2 names (hard links)"},
        {[&](const std::string &at) { fs::create_directory(at); }, "is a directory"},
    };
#ifndef _WIN32  // Windows has no FIFOs, and its links need a privilege to make
    cases.push_back(
        {[&](const std::string &at) { fs::create_symlink(victim, at); }, "is a symbolic link"});
    cases.push_back({[&](const std::string &at) { fs::create_symlink(scratch_ / "nowhere", at); },
                     "is a symbolic link"});
    cases.push_back(
        {[&](const std::string &at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }, "is a FIFO"});
#endif
    for (const Case &c : cases) {
        fs::remove_all(out_);
        fs::create_directory(out_);
        c.place(out_ + "/a.bin");
        Outcome run = korvo(Args(), Env());
        EXPECT_EQ(run.exit_code, 1) << c.says << ": " << run.err;
        EXPECT_THAT(run.err, HasSubstr("korvo: " + out_ + "/a.bin " + c.says +
                                       ": korvo receive writes only regular files of its own"));
        EXPECT_TRUE(depot_test::ReadBytes(victim) == "keep me");
    }

#ifndef _WIN32  // links need a privilege to make on Windows
    // On a resume, a link put in place of a received output is no output:
    // its target's bytes never count as received.
    fs::remove_all(out_);
    ASSERT_EQ(korvo(Args(), Env()).exit_code, 0);
    std::string copy = scratch_ / "copy.bin";
    fs::rename(out_ + "/a.bin", copy);
    fs::create_symlink(copy, out_ + "/a.bin");
    Outcome run = korvo(Args(), Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("is a symbolic link"));
    EXPECT_TRUE(depot_test::ReadBytes(copy) == bytes_);
#endif
}

TEST_F(ReceiveGuards, ADataFileThatIsNotItsSegmentsSizeIsNamed) {
    // The TOC says 50000 bytes; the directory's data file is cut short, or
    // has grown, since.
    std::string toc = scratch_ / "dist.toc";
    ASSERT_EQ(run_program(KORVO_GATEWAY_PROGRAM, {"--make-toc", toc, input_}).exit_code, 0);
    DescribeInput();
    const std::vector<std::string> args{"receive", "g6", "--dir", src_, "--toc", toc, "-o", out_};

    fs::resize_file(input_, 30000);
    Outcome run = korvo(args, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: segment a.bin ended after 30000 of its 50000 bytes: "));

    cds_test::write_file(input_, bytes_ + "and more");
    run = korvo(args, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err,
                HasSubstr("korvo: the source sent more than the 50000 bytes of segment a.bin; "
                          "its output was emptied so that the next run fetches it again: "));
    EXPECT_EQ(fs::file_size(out_ + "/a.bin"), 0u);

    cds_test::write_file(input_, bytes_);
    run = korvo(args, Env());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(depot_test::ReadBytes(out_ + "/a.bin") == bytes_);
}

TEST_F(ReceiveGuards, OneDistributionHasOneWriterAndTheLockGoesWithItsProcess) {
    std::string big = src_ + "/big.bin";
    cds_test::write_file(big, cds_test::package_bytes(4 << 20, 42));
    std::vector<std::string> args{"receive", "g3", "--files", big, "-o", out_};
    std::vector<std::string> slow = args;
    slow.insert(slow.end(), {"--limit-rate", "64K"});
    BackgroundRun first(slow, Env());
    ASSERT_TRUE(Checkpointed("g3")) << "the first receive never began";

    Outcome second = korvo(args, Env());
    EXPECT_EQ(second.exit_code, 1) << second.err;
    EXPECT_THAT(second.err,
                HasSubstr("korvo: another korvo receive of g3 is running with this work "
                          "directory (process " +
                          std::to_string(first.pid()) + "); one distribution has one writer"));

    first.kill();
    EXPECT_EQ(first.finish().exit_code, korvo::test::kKilled);
    Outcome after = korvo(args, Env());
    EXPECT_EQ(after.exit_code, 0) << after.err;
    EXPECT_TRUE(depot_test::ReadBytes(out_ + "/big.bin") == depot_test::ReadBytes(big));
}

TEST_F(ReceiveGuards, ARecordThatCannotBeKeptIsSaidAtTheStart) {
    // A work directory that does not exist yet is made.
    std::string fresh = scratch_ / "new/work";
    std::vector<std::string> args = Args();
    args.insert(args.end(), {"-w", fresh});
    Outcome run = korvo(args, Env());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ProgressValues(fresh, "g1")["c_len"], "50000");

    // An id too long for the record's file name: refused before the
    // output folder is touched.
    const std::string long_id(1100, 'd');
    fs::remove_all(out_);
    run = korvo(Args(long_id), Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err,
                HasSubstr("the distribution id is 1100 characters long: its progress record"));
    EXPECT_THAT(run.err, HasSubstr("so no record could be kept and nothing could resume"));
    EXPECT_FALSE(fs::exists(out_));
}

TEST_F(ReceiveGuards, ARecordThatCannotBeSavedOnAFullDiskIsSaidAtTheEnd) {
    if (!korvo::test::fileSizeLimitHost())
        GTEST_SKIP() << "this host cannot limit the size of a program's files";
    // A full disk (here: no file may grow): the record cannot be saved, and
    // the end says so instead of promising a resume.
    std::vector<std::string> shell{"-c", "ulimit -f 0; trap '' XFSZ; exec \"$0\" \"$@\"",
                                   KORVO_PROGRAM};
    std::vector<std::string> full = Args("g4");
    shell.insert(shell.end(), full.begin(), full.end());
    Outcome run = run_program("/bin/sh", shell, Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err,
                HasSubstr("korvo: cannot keep the progress record " + work_ +
                          "/mstat/g4.mds (run with -v for why): if this receive stops, the next "
                          "run starts over\n"));
    EXPECT_THAT(run.err,
                HasSubstr("cannot write " + out_ +
                          "/a.bin: File too large\n"
                          "korvo: in segment a.bin: no progress record could be kept; the next run "
                          "starts over\n"));
    EXPECT_THAT(run.err, Not(HasSubstr("run the same command again to resume")));
}

TEST_F(ReceiveGuards, ADamagedRecordIsNamedAndNotReadWhole) {
    const std::string record = work_ + "/mstat/g5.mds";
    fs::create_directory(work_ + "/mstat");
    cds_test::write_file(record, "this is no progress record");
    Outcome run = korvo(Args("g5"), Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: the progress record " + Shown(record) +
                                   " cannot be read as a progress record ("));
    EXPECT_THAT(run.err,
                HasSubstr("; remove it (or move it away) to receive the distribution from the "
                          "start\n"));

    fs::resize_file(record, 1ull << 30);  // sparse: 1 GiB that takes no room
    run = korvo(Args("g5"), Env());
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: the progress record " + Shown(record) +
                                   " is 1073741824 bytes long, more than a progress record can be "
                                   "(1048576), and was not read"));
    EXPECT_FALSE(fs::exists(out_ + "/a.bin"));

    // An empty record (a save that failed) vouches for nothing: the receive
    // starts over and says so.
    fs::resize_file(record, 0);
    run = korvo(Args("g5"), Env());
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("korvo: the progress record " + Shown(record) +
                                   " is empty (a save that failed?): it keeps no checkpoint\n"));
    EXPECT_TRUE(depot_test::ReadBytes(out_ + "/a.bin") == bytes_);
}

}  // namespace
}  // namespace cli_test
