// What a replacement of a held file leaves beside it on Windows, where it
// goes in two steps (the target moved aside, the new file renamed in): a
// reader that finds the path empty reads the new file, one cut off by the
// death of its process is finished by the next open, and what is not half
// of such a replacement is never taken for the file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "kes/host_file.hpp"
#include "kes/kes_fd.hpp"
#include "tests/kes/host_file_text.hpp"
#include "tests/kes/kes_scratch.hpp"

namespace {

using namespace korvo::host;
using kes_test::ReadAll;
using kes_test::WriteText;
using korvo::kes::UniqueFd;

// The tag of a process that cannot be running (ids are multiples of 4 far
// below this one), and of this process.
const std::string kDeadTag = "fffffff0-00000001-00000000";
std::string OwnTag() {
    char tag[32];
    std::snprintf(tag, sizeof tag, "%08lx-00000001-00000000",
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    return tag;
}

std::set<std::string> Names(const std::string &dir) {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(HostReplace, AReplacementCutOffBetweenItsStepsIsFinishedByTheNextOpen) {
    kes_test::ScratchDir dir;
    WriteText(dir / (".korvo-new-42.mds~" + kDeadTag), "new");
    WriteText(dir / (".korvo-removed-42.mds~" + kDeadTag), "old");
    const UniqueFd fd(OpenFileOrReplacement((dir / "42.mds").c_str(), kOpenRead));
    ASSERT_TRUE(fd);
    EXPECT_EQ(ReadAll(fd.get()), "new");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"42.mds"});
}

TEST(HostReplace, OnlyBothHalvesOfAReplacementStandForTheFile) {
    kes_test::ScratchDir dir;
    const std::string target = dir / "42.mds";
    // A removal's aside name, and halves of dead replacements: no file,
    // and the halves are cleared away.
    WriteText(dir / ".korvo-removed-fffffff0-00000001-00000000", "removed");
    WriteText(dir / (".korvo-new-42.mds~" + kDeadTag), "never put in place");
    WriteText(dir / ".korvo-removed-42.mds~fffffff0-00000002-00000000", "replaced");
    WriteText(dir / (".korvo-new-43.mds~" + kDeadTag), "another file's");
    errno = 0;
    EXPECT_EQ(OpenFileOrReplacement(target.c_str(), kOpenRead), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Names(dir.path()),
              (std::set<std::string>{".korvo-new-43.mds~" + kDeadTag,
                                     ".korvo-removed-fffffff0-00000001-00000000"}));

    // A replacement whose process runs is read where it is and left to
    // finish by itself.
    const std::string fresh = ".korvo-new-42.mds~" + OwnTag();
    const std::string old = ".korvo-removed-42.mds~" + OwnTag();
    WriteText(dir / fresh, "new");
    WriteText(dir / old, "old");
    const UniqueFd fd(OpenFileOrReplacement(target.c_str(), kOpenRead));
    ASSERT_TRUE(fd);
    EXPECT_EQ(ReadAll(fd.get()), "new");
    EXPECT_EQ(Names(dir.path()).count("42.mds"), 0u);
    EXPECT_EQ(Names(dir.path()).count(fresh), 1u);
}

TEST(HostReplace, AHeldFileWhoseNameLeavesNoRoomBesideItIsStillReplaced) {
    kes_test::ScratchDir dir;
    const std::string target = dir / std::string(225, 'n');
    WriteText(target, "old");
    const UniqueFd held(OpenFile(target.c_str(), kOpenRead));
    ASSERT_TRUE(held);
    WriteText(dir / "new", "newer");
    ASSERT_TRUE(RenameReplacing((dir / "new").c_str(), target.c_str()));
    EXPECT_EQ(ReadAll(held.get()), "old");
    const UniqueFd current(OpenFileOrReplacement(target.c_str(), kOpenRead));
    EXPECT_EQ(ReadAll(current.get()), "newer");
}

}  // namespace
