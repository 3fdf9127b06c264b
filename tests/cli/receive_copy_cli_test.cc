// korvo receive --files hands each segment over by an in-kernel copy where
// the file systems allow it: a receive killed in the middle of a copy
// resumes from its last checkpoint to byte-identical outputs, and a source
// on another file system, where the kernel refuses the copy, arrives the
// same way through plain reads.
#include <sys/stat.h>

#include "file_size_limit.hpp"
#include "receive_fixture.hpp"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class ReceiveByCopy : public ReceiveFixture {};

TEST_F(ReceiveByCopy, AReceiveKilledInTheMiddleOfACopyResumesFromItsCheckpoint) {
    if (!korvo::test::fileSizeLimitHost())
        GTEST_SKIP() << "this host cannot limit the size of a program's files to stop it mid-copy";
    // 40 MiB and a bit: five pieces of copy; the limit stops the output of
    // the big segment 3 MiB into its third piece.
    const std::string big = Write(scratch_ / "big.bin", (40u << 20) + 4321, 1);
    const std::string small = Write(scratch_ / "small.bin", 70000, 2);
    const std::vector<std::string> receive{"-q",  "receive", "dist", "--files",
                                           small, big,       "-o",   out_};
    const uint64_t limit = (19u << 20) + 777;
    ASSERT_EQ(korvo_with_file_limit(receive, Env(), limit), korvo::test::fileSizeExceededStatus());

    // The output holds more than the record vouches for: the bytes of the
    // piece in flight were in, its checkpoint was not.
    const uint64_t recorded = std::stoull(ProgressValues(work_, "dist")["c_len"]);
    EXPECT_EQ(fs::file_size(out_ + "/big.bin"), limit);
    EXPECT_LT(recorded, 70000 + limit);
    EXPECT_GE(recorded, 70000 + (16u << 20));

    Outcome run = korvo({"receive", "dist", "--files", small, big, "-o", out_}, Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("(resumed at "));
    ExpectSame(big, "big.bin");
    ExpectSame(small, "small.bin");
    EXPECT_EQ(ProgressValues(work_, "dist")["c_len"], std::to_string((40u << 20) + 4321 + 70000));
}

TEST_F(ReceiveByCopy, SourcesTheKernelWillNotCopyFromArriveThroughReads) {
    const std::filesystem::path tmpfs = korvo::test::memoryFileSystemDirectory();
    struct stat shm {
    }, here{};
    if (tmpfs.empty() || ::stat(tmpfs.string().c_str(), &shm) != 0 ||
        ::stat(scratch_.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system (tmpfs) beside the scratch directory";
    kes_test::ScratchDir memory(tmpfs);
    const std::string big = Write(memory / "big.bin", (9u << 20) + 5, 3);
    Outcome run = korvo({"receive", "dist", "--files", big, "-o", out_, "--json"}, Env());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.json()["received_bytes"], (9u << 20) + 5);
    ExpectSame(big, "big.bin");
    EXPECT_EQ(ProgressValues(work_, "dist")["c_len"], std::to_string((9u << 20) + 5));
}

}  // namespace
}  // namespace cli_test
