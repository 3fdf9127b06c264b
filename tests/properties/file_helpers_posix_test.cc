// The file helpers where only a POSIX host can show them: a write cut short
// by the process's file-size limit (setrlimit, SIGXFSZ), which Windows has
// no counterpart of.
#include <fcntl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "properties/helpers/file_helpers.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/support/test_process.hpp"

namespace {

using props_test::raised_by;

class FileSizeLimits : public kes_test::NoDescriptorLeak {
  protected:
    kes_test::ScratchDir scratch;
};

// Writes ten bytes to the new file arg(0) under a file-size limit of 4
// bytes, which lets the first write through in part.
KORVO_CHILD_BODY(WriteUnderASizeLimit) {
    const std::string &path = child.arg(0);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    FileRecord *file = file_create(path.c_str(), O_WRONLY, 0600);
    const auto raised = raised_by([&] { file_write(file, "0123456789", 10); });
    EXPECT_EQ(raised.number, 21);
    EXPECT_EQ(raised.arguments, (std::vector<std::string>{path, "10"}));
    file_delete(file);
    return testing::Test::HasFailure() ? 1 : 0;
}

TEST_F(FileSizeLimits, AShortWriteRaises) {
    const std::string path = scratch / "limited";
    korvo::test::Child child("WriteUnderASizeLimit", {.args = {path}});
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(file_get_size(path.c_str()), 4);
}

}  // namespace
