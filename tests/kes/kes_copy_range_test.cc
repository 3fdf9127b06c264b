// In-kernel copies: what a copy moves, between which places, without
// moving either file's position; the sources the kernel refuses (a FIFO, a file of /proc,
// another file system) leaving the source where it was for a plain read,
// and the shape that shows a file changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "kes/kes_copy_range.hpp"
#include "kes/kes_fd.hpp"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"

namespace {

using korvo::kes::KesCopyRange;
using korvo::kes::KesFileShape;
using korvo::kes::KesFileShapeOf;
using korvo::kes::UniqueFd;

std::string bytes(size_t size, unsigned seed) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 7 + seed) % 251);
    return text;
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

UniqueFd open_out(const std::string &path, int extra = 0) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | extra, 0600));
}

class KesCopyRanges : public kes_test::NoDescriptorLeak {
  protected:
    kes_test::ScratchDir scratch;
};

TEST_F(KesCopyRanges, CopiesBetweenTheGivenPlacesAndMovesNoPosition) {
    const std::string source = bytes(300000, 1);
    write_file(scratch / "in", source);
    UniqueFd in(::open((scratch / "in").c_str(), O_RDONLY | O_CLOEXEC));
    UniqueFd out = open_out(scratch / "out");
    ASSERT_TRUE(in && out);
    ASSERT_EQ(::lseek(in.get(), 77, SEEK_SET), 77);

    KesStatus status{-9, -9, -9};
    EXPECT_EQ(KesCopyRange(in.get(), 1000, out.get(), 500, 200000, &status), 200000);
    kes_test::ExpectStatus(status, KES_OK, 0, 0);
    EXPECT_EQ(::lseek(in.get(), 0, SEEK_CUR), 77);
    EXPECT_EQ(::lseek(out.get(), 0, SEEK_CUR), 0);
    // Asking beyond the source's end copies what is left, then nothing.
    EXPECT_EQ(KesCopyRange(in.get(), 201000, out.get(), 200500, 500000, &status), 99000);
    EXPECT_EQ(KesCopyRange(in.get(), 300000, out.get(), 299500, 10, &status), 0);
    EXPECT_EQ(read_all(scratch / "out"), std::string(500, '\0') + source.substr(1000));

    EXPECT_EQ(KesCopyRange(in.get(), 0, out.get(), -1, 10, &status), -1);
    EXPECT_EQ(status.code, KES_INVALID);
    EXPECT_EQ(KesCopyRange(in.get(), -1, out.get(), 0, 10, &status), -1);
    EXPECT_EQ(status.code, KES_INVALID);
    EXPECT_EQ(KesCopyRange(-1, 0, out.get(), 0, 10, &status), -1);
    EXPECT_EQ(status.code, KES_INVALID);
}

// Each refusal takes nothing from the source, so that reading it gives
// every byte the copy did not move.
TEST_F(KesCopyRanges, RefusedSourcesAndOutputsAreLeftToPlainReads) {
    UniqueFd out = open_out(scratch / "out");
    KesStatus status{};

    ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0600), 0);
    UniqueFd fifo(::open((scratch / "fifo").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::write(fifo.get(), "abc", 3), 3);
    EXPECT_EQ(KesCopyRange(fifo.get(), 0, out.get(), 0, 3, &status), -1);
    EXPECT_EQ(status.code, KES_UNSUPPORTED);
    char back[3];
    EXPECT_EQ(::read(fifo.get(), back, 3), 3);  // nothing was taken out of the pipe

    UniqueFd proc(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(KesCopyRange(proc.get(), 0, out.get(), 0, 4096, &status), -1);
    EXPECT_EQ(status.code, KES_UNSUPPORTED);

    write_file(scratch / "in", bytes(5000, 2));
    UniqueFd in(::open((scratch / "in").c_str(), O_RDONLY | O_CLOEXEC));
    UniqueFd appending = open_out(scratch / "appended", O_APPEND);
    EXPECT_EQ(KesCopyRange(in.get(), 0, appending.get(), 0, 5000, &status), -1);
    EXPECT_EQ(status.code, KES_UNSUPPORTED);

    // Another file system: tmpfs against the scratch directory's, where the
    // two differ on this machine.
    const std::filesystem::path tmpfs = korvo::test::memoryFileSystemDirectory();
    struct stat shm {
    }, here{};
    if (!tmpfs.empty() && ::stat(tmpfs.c_str(), &shm) == 0 &&
        ::stat(scratch.path().c_str(), &here) == 0 && shm.st_dev != here.st_dev) {
        kes_test::ScratchDir memory(tmpfs);
        write_file(memory / "in", bytes(5000, 3));
        UniqueFd elsewhere(::open((memory / "in").c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_EQ(KesCopyRange(elsewhere.get(), 0, out.get(), 0, 5000, &status), -1);
        EXPECT_EQ(status.code, KES_UNSUPPORTED);
        EXPECT_EQ(status.osError, EXDEV);
    }
}

TEST_F(KesCopyRanges, AShapeChangesWithTheFileAndOnlyThen) {
    write_file(scratch / "in", bytes(5000, 4));
    UniqueFd fd(::open((scratch / "in").c_str(), O_RDWR | O_CLOEXEC));
    KesFileShape first, again;
    ASSERT_TRUE(KesFileShapeOf(fd.get(), &first));
    EXPECT_EQ(first.size, 5000);
    char byte = 0;
    ASSERT_EQ(::pread(fd.get(), &byte, 1, 10), 1);  // reading changes nothing
    ASSERT_TRUE(KesFileShapeOf(fd.get(), &again));
    EXPECT_EQ(again, first);

    // Rewriting a byte keeps the size; the times show it (set apart from
    // the first ones, whatever the clock's grain).
    ASSERT_EQ(::pwrite(fd.get(), "x", 1, 10), 1);
    const timespec later[2] = {{0, UTIME_OMIT}, {first.modified_ns / 1000000000 + 5, 0}};
    ASSERT_EQ(::futimens(fd.get(), later), 0);
    KesFileShape rewritten;
    ASSERT_TRUE(KesFileShapeOf(fd.get(), &rewritten));
    EXPECT_EQ(rewritten.size, 5000);
    EXPECT_NE(rewritten, first);

    EXPECT_FALSE(KesFileShapeOf(-1, &again));
}

}  // namespace
