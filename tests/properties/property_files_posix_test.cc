// Property files where only a POSIX host can show them: a save cut short
// by the process's file-size limit (setrlimit, SIGXFSZ), and FIFOs, links
// and POSIX modes in a file's place, which Windows has no counterpart of.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "properties/property_files.h"
#include "tests/properties/property_files_support.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/support/test_process.hpp"

namespace {

using namespace property_files_test;
using props_test::List;
using props_test::raised_by;
using Args = std::vector<std::string>;

// The process may write files of at most `bytes` bytes while it lives; a
// longer write falls short, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

// A save that cannot write the whole list (a full disk) raises and leaves the
// previous file whole, in every layout, and no temporary file behind.
TEST_F(PropertyFiles, AFailedSaveLeavesThePreviousFile) {
    List small, large;
    properties_put_string_dup(&small, "id", "seg1");
    properties_put_string_dup(&large, "id", std::string(200, 'x').c_str());
    for (Layout layout : {kPlain, kMarked, kBare}) {
        SCOPED_TRACE(kLayoutNames[layout]);
        const std::string path = scratch / kLayoutNames[layout];
        save(layout, &small, path);
        const Bytes before = contents(kLayoutNames[layout]);
        props_test::Raised raised;
        {
            FileSizeLimit limit(64);
            raised = raised_by([&] { save(layout, &large, path); });
        }
        EXPECT_EQ(raised.number, 21);
        EXPECT_EQ(contents(kLayoutNames[layout]), before);
        List loaded;
        load(layout, &loaded, path);
        EXPECT_STREQ(properties_get_string(&loaded, "id"), "seg1");
    }
    size_t names = 0;
    for (const auto &entry : std::filesystem::directory_iterator(scratch.path()))
        names += entry.path().filename().string()[0] != '.';
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 3);
    EXPECT_EQ(names, 3u);
}

// A save replaces a regular file only: a directory, a FIFO or a link in its
// place is refused with message 12 and left as it was, without blocking.
TEST_F(PropertyFiles, SavesReplaceOnlyRegularFiles) {
    List list;
    properties_put_string_dup(&list, "id", "seg1");
    const std::string fifo = scratch / "fifo", link = scratch / "link", dir = scratch / "dir";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink((scratch / "elsewhere").c_str(), link.c_str()), 0);
    std::filesystem::create_directory(dir);
    const std::pair<std::string, int> cases[] = {{fifo, EINVAL}, {link, ELOOP}, {dir, EISDIR}};
    for (const auto &[path, error] : cases) {
        const auto raised = raised_by([&] { properties_save(&list, path.c_str()); });
        EXPECT_EQ(raised.number, 12) << path;
        EXPECT_EQ(raised.arguments, (Args{path, std::to_string(error)}));
    }
    EXPECT_FALSE(std::filesystem::exists(scratch / "elsewhere"));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // An existing file keeps its permission bits.
    const std::string shared = put("shared", {});
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    properties_save(&list, shared.c_str());
    struct stat status;
    ASSERT_EQ(::stat(shared.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

// Loads read regular files only: a FIFO is refused with message 11 at once,
// instead of waiting for a writer in open (run in a child, so that a wait
// fails the test).
// Loads the FIFO arg(0) in every layout, then the directory arg(1).
KORVO_CHILD_BODY(LoadAFifoAndADirectory) {
    const std::string &fifo = child.arg(0);
    for (Layout layout : {kPlain, kMarked, kBare}) {
        List list;
        const auto raised = raised_by([&] { load(layout, &list, fifo); });
        if (raised.number != 11 || raised.arguments != Args{fifo})
            return 1;
    }
    List list;
    return raised_by([&] { load(kPlain, &list, child.arg(1)); }).number == 11 ? 0 : 2;
}

TEST_F(PropertyFiles, LoadsReadOnlyRegularFiles) {
    const std::string fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    korvo::test::Child child("LoadAFifoAndADirectory", {.args = {fifo, scratch.path()}});
    EXPECT_EQ(child.wait(), 0);
}

}  // namespace
