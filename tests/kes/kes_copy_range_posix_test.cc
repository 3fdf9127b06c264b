// In-kernel copies from the sources a POSIX kernel refuses (a FIFO, a file
// of /proc, another file system) and to an output opened for appending: each
// refusal leaves the source where it was for a plain read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kes/kes_copy_range.hpp"
#include "kes/kes_fd.hpp"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"

namespace {

using korvo::kes::KesCopyRange;
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

UniqueFd open_out(const std::string &path, int extra = 0) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | extra, 0600));
}

class KesCopyRangeRefusals : public kes_test::NoDescriptorLeak {
  protected:
    kes_test::ScratchDir scratch;
};

// Each refusal takes nothing from the source, so that reading it gives
// every byte the copy did not move.
TEST_F(KesCopyRangeRefusals, RefusedSourcesAndOutputsAreLeftToPlainReads) {
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

}  // namespace
