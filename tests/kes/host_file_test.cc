// The host file calls: what the flags refuse, positioned transfers, the
// status records, and renames and removals under an open descriptor.
#include "kes/host_file.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "kes/kes_fd.hpp"
#include "tests/kes/host_file_text.hpp"
#include "tests/kes/kes_scratch.hpp"

namespace {

using namespace korvo::host;
using kes_test::ReadAll;
using kes_test::WriteText;
using korvo::kes::UniqueFd;

TEST(HostFile, FlagsRefuseWhatTheyName) {
    kes_test::ScratchDir dir;
    const std::string file = dir / "file";
    WriteText(file, "abc");
    const bool linked = korvo::test::makeSymbolicLink(file, dir / "link");
    if (linked) {
        errno = 0;
        EXPECT_EQ(OpenFile((dir / "link").c_str(), kOpenRead | kOpenNoFollow), -1);
        EXPECT_EQ(errno, ELOOP);
        UniqueFd followed(OpenFile((dir / "link").c_str(), kOpenRead));
        EXPECT_TRUE(followed);
    }

    EXPECT_EQ(OpenFile(file.c_str(), kOpenWrite | kOpenCreate | kOpenExclusive), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(OpenFile(file.c_str(), kOpenRead | kOpenDirectory), -1);
    EXPECT_TRUE(UniqueFd(OpenFile(dir.path().c_str(), kOpenRead | kOpenDirectory)));
    EXPECT_TRUE(CheckAccess(dir.path().c_str(), kAccessRead | kAccessWrite));
    EXPECT_EQ(OpenFile((dir / "missing").c_str(), kOpenRead), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(OpenFile(nullptr, kOpenRead), -1);

    // Truncation empties, and a write-only descriptor cannot read.
    UniqueFd cut(OpenFile(file.c_str(), kOpenWrite | kOpenTruncate));
    ASSERT_TRUE(cut);
    char byte;
    EXPECT_EQ(ReadFile(cut.get(), &byte, 1), -1);
    FileInfo info{};
    ASSERT_TRUE(StatFile(cut.get(), &info));
    EXPECT_EQ(info.size, 0);
    if (!linked)
        GTEST_SKIP() << "this host makes no symbolic links: the no-follow open is unchecked";
}

TEST(HostFile, PositionedTransfersLeaveThePositionAlone) {
    kes_test::ScratchDir dir;
    UniqueFd fd(OpenFile((dir / "f").c_str(), kOpenReadWrite | kOpenCreate, 0600));
    ASSERT_TRUE(fd);
    ASSERT_EQ(WriteFile(fd.get(), "0123456789", 10), 10);
    ASSERT_EQ(WriteFileAt(fd.get(), "ab", 2, 3), 2);
    EXPECT_EQ(ReadAll(fd.get()), "012ab56789");
    // The plain write continues where the last plain one ended.
    ASSERT_EQ(WriteFile(fd.get(), "X", 1), 1);
    EXPECT_EQ(ReadAll(fd.get()), "012ab56789X");
    EXPECT_EQ(SeekFile(fd.get(), 1), 1);
    char two[2];
    ASSERT_EQ(ReadFile(fd.get(), two, 2), 2);
    EXPECT_EQ(std::string(two, 2), "12");
    ASSERT_TRUE(TruncateFile(fd.get(), 4));
    EXPECT_EQ(ReadAll(fd.get()), "012a");
    EXPECT_TRUE(SyncFile(fd.get()));
    EXPECT_TRUE(SyncDirectory(dir.path().c_str()));
    EXPECT_FALSE(SyncDirectory((dir / "f").c_str()));
}

TEST(HostFile, StatusTellsKindsOwnerAndIdentity) {
    kes_test::ScratchDir dir;
    const std::string file = dir / "file";
    WriteText(file, "12345");
    FileInfo plain{}, again{};
    ASSERT_TRUE(StatPath(file.c_str(), &plain));
    EXPECT_EQ(plain.kind, FileKind::kRegular);
    EXPECT_EQ(plain.size, 5);
    EXPECT_TRUE(plain.owned_by_self);
    {
        // The identity is the file's, whichever way it is reached.
        UniqueFd open(OpenFile(file.c_str(), kOpenRead));
        ASSERT_TRUE(StatFile(open.get(), &again));
        EXPECT_EQ(again.inode, plain.inode);
        EXPECT_EQ(again.device, plain.device);
        WriteText(dir / "other", "x");
        ASSERT_TRUE(StatPath((dir / "other").c_str(), &again));
        EXPECT_NE(again.inode, plain.inode);
    }

    const bool linked = korvo::test::makeSymbolicLink(file, dir / "link");
    if (linked) {
        FileInfo viaLink{}, link{};
        ASSERT_TRUE(StatPath((dir / "link").c_str(), &viaLink));
        ASSERT_TRUE(StatLink((dir / "link").c_str(), &link));
        EXPECT_EQ(viaLink.kind, FileKind::kRegular);
        EXPECT_EQ(viaLink.size, 5);
        EXPECT_EQ(link.kind, FileKind::kSymlink);
        EXPECT_EQ(viaLink.inode, plain.inode);
        EXPECT_EQ(viaLink.device, plain.device);
        EXPECT_NE(link.inode, plain.inode);
    }

    FileInfo directory{};
    ASSERT_TRUE(StatPath(dir.path().c_str(), &directory));
    EXPECT_EQ(directory.kind, FileKind::kDirectory);
    errno = 0;
    EXPECT_FALSE(StatPath((dir / "missing").c_str(), &directory));
    EXPECT_EQ(errno, ENOENT);
    if (!linked)
        GTEST_SKIP() << "this host makes no symbolic links: the link's status is unchecked";
}

TEST(HostFile, OpenDescriptorOutlivesRemovalAndReplacement) {
    kes_test::ScratchDir dir;
    const std::string file = dir / "record";
    WriteText(file, "old");
    UniqueFd held(OpenFile(file.c_str(), kOpenRead));
    ASSERT_TRUE(held);
    FileBrief brief{};
    ASSERT_TRUE(BriefStatFile(held.get(), &brief));
    EXPECT_TRUE(brief.regular);
    EXPECT_EQ(brief.size, 3);
    EXPECT_EQ(brief.links, 1u);

    // A rename over the held file leaves the descriptor on a file without
    // a name, still readable.
    WriteText(dir / "new", "newer");
    ASSERT_TRUE(RenameReplacing((dir / "new").c_str(), file.c_str()));
    ASSERT_TRUE(BriefStatFile(held.get(), &brief));
    // Wine shows neither a pending deletion nor a new name through a held
    // handle: the replaced file still counts its old name there.
    const bool namesSeen = !korvo::test::runningUnderWine();
    if (namesSeen) {
        EXPECT_EQ(brief.links, 0u);
    }
    EXPECT_EQ(ReadAll(held.get()), "old");
    UniqueFd current(OpenFile(file.c_str(), kOpenRead));
    EXPECT_EQ(ReadAll(current.get()), "newer");

    ASSERT_TRUE(RemoveFile(file.c_str()));
    EXPECT_EQ(ReadAll(current.get()), "newer");
    EXPECT_FALSE(RemoveFile(file.c_str()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(CheckAccess(file.c_str(), kAccessExists));
    if (!namesSeen)
        GTEST_SKIP() << "Wine keeps a replaced file's name count: the count is unchecked";
}

}  // namespace
