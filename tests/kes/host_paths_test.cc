// What callers of the host file layer count on whatever the host: a removed
// or replaced file that someone holds open frees its name at once, paths
// far beyond the old 260-character limit work up to the 1024-byte buffers,
// directory paths may end in a separator, names are UTF-8 on every host,
// and a whole-file lock keeps other processes out until it is let go.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "kes/host_file.hpp"
#include "kes/kes_dir.h"
#include "kes/kes_fd.hpp"
#include "tests/kes/host_file_text.hpp"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_process.hpp"

namespace {

using namespace korvo::host;
using kes_test::ReadAll;
using korvo::kes::UniqueFd;

bool WriteNew(const std::string &path, const std::string &text) {
    UniqueFd fd(OpenFile(path.c_str(), kOpenWrite | kOpenCreate | kOpenExclusive, 0600));
    return fd && WriteFile(fd.get(), text.data(), text.size()) == static_cast<int64_t>(text.size());
}

std::set<std::string> Names(const std::string &directory) {
    std::set<std::string> names;
    KesStatus status{};
    KesDir *dir = nullptr;
    KesDirOpen(&status, &dir, directory.c_str());
    char name[KES_DIR_NAME_SIZE];
    while (status.code == KES_OK && KesDirReadDirectory(&status, name, dir)->code == KES_OK)
        names.insert(name);
    EXPECT_EQ(status.code, KES_END) << directory;
    KesDirClose(&status, dir);
    names.erase(".");
    names.erase("..");
    return names;
}

TEST(HostPaths, HeldFilesGiveUpTheirNamesAtOnce) {
    kes_test::ScratchDir dir;
    const std::string file = dir / "entry";
    ASSERT_TRUE(WriteNew(file, "first"));
    UniqueFd held(OpenFile(file.c_str(), kOpenRead));
    ASSERT_TRUE(held);

    // Removed while held: the name is free for a new file at once, and the
    // holder still reads the old bytes.
    ASSERT_TRUE(RemoveFile(file.c_str()));
    ASSERT_TRUE(WriteNew(file, "second"));
    EXPECT_EQ(ReadAll(held.get()), "first");

    // A directory is neither removed as a file nor opened for writing.
    errno = 0;
    EXPECT_FALSE(RemoveFile(dir.path().c_str()));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(OpenFile(dir.path().c_str(), kOpenWrite), -1);
    EXPECT_EQ(errno, EISDIR);
}

TEST(HostPaths, LongPathsWorkUpToTheBuffers) {
    kes_test::ScratchDir dir;
    std::string deep = dir.path();
    std::vector<std::string> levels;
    for (char c = 'a'; deep.size() < 700; ++c) {
        deep += "/" + std::string(60, c);
        ASSERT_TRUE(MakeDirectory(deep.c_str(), 0700)) << deep.size() << " errno " << errno;
        levels.push_back(deep);
    }
    const std::string file = deep + "/file";
    ASSERT_TRUE(WriteNew(file, "deep"));
    FileInfo info{};
    ASSERT_TRUE(StatPath(file.c_str(), &info));
    EXPECT_EQ(info.size, 4);
    EXPECT_EQ(Names(deep), std::set<std::string>{"file"});
    ASSERT_TRUE(RenameReplacing(file.c_str(), (deep + "/moved").c_str()));
    ASSERT_TRUE(RemoveFile((deep + "/moved").c_str()));
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        EXPECT_TRUE(RemoveEmptyDirectory(level->c_str())) << *level;
}

TEST(HostPaths, DirectoryPathsMayEndInASeparator) {
    kes_test::ScratchDir dir;
    ASSERT_TRUE(WriteNew(dir / "one", "1"));
    FileInfo info{};
    ASSERT_TRUE(StatPath((dir.path() + "/").c_str(), &info));
    EXPECT_EQ(info.kind, FileKind::kDirectory);
    EXPECT_TRUE(KesDirIsDirectory((dir.path() + "/").c_str()));
    EXPECT_EQ(Names(dir.path() + "/"), std::set<std::string>{"one"});
}

TEST(HostPaths, NamesAreUtf8OnEveryHost) {
    kes_test::ScratchDir dir;
    // Characters that no single code page holds together.
    const std::string name = "\xe6\x97\xa5\xe6\x9c\xac-\xc3\xa9.txt";
    ASSERT_TRUE(WriteNew(dir / name, "bytes"));
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{name});
    UniqueFd fd(OpenFile((dir / name).c_str(), kOpenRead));
    ASSERT_TRUE(fd);
    EXPECT_EQ(ReadAll(fd.get()), "bytes");
#if defined(_WIN32)
    // The name on disk is the characters themselves, not the bytes read in
    // the ANSI code page.
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(dir.path()) / L"\x65e5\x672c-\x00e9.txt"));
#endif

    // A directory made current under such a name reads back in the same
    // bytes.
    const std::string sub = dir / "\xe6\x97\xa5";
    KesStatus status{};
    ASSERT_EQ(KesDirCreateDirectory(&status, sub.c_str())->code, KES_OK);
    char before[KES_DIR_PATH_SIZE], inside[KES_DIR_PATH_SIZE];
    ASSERT_EQ(KesDirGetCurrentDirectory(&status, before)->code, KES_OK);
    ASSERT_EQ(KesDirSetCurrentDirectory(&status, sub.c_str())->code, KES_OK);
    KesDirGetCurrentDirectory(&status, inside);
    EXPECT_EQ(KesDirSetCurrentDirectory(&status, before)->code, KES_OK);
    EXPECT_TRUE(std::string(inside).ends_with("\xe6\x97\xa5")) << inside;

#if defined(_WIN32)
    // Bytes that are no UTF-8 are refused rather than read as another name
    // (a POSIX host takes any bytes as a name).
    errno = 0;
    EXPECT_FALSE(UniqueFd(OpenFile((dir / "bad\xff.txt").c_str(), kOpenWrite | kOpenCreate, 0600)));
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_EQ(KesDirCreateDirectory(&status, (dir / "bad\xc3").c_str())->code, KES_SYSTEM_ERROR);
    EXPECT_EQ(status.osError, EILSEQ);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{name, "\xe6\x97\xa5"}));
#endif
}

// Tries the whole-file lock of arg 0 and exits 1 when it got it, 0 when
// another open file holds it.
KORVO_CHILD_BODY(TryWholeFileLock) {
    UniqueFd fd(OpenFile(child.arg(0).c_str(), kOpenReadWrite));
    if (!fd)
        return 9;
    return TryLockWholeFile(fd.get()) ? 1 : 0;
}

TEST(HostPaths, AWholeFileLockKeepsOtherProcessesOut) {
    kes_test::ScratchDir dir;
    const std::string file = dir / "lock";
    ASSERT_TRUE(WriteNew(file, ""));
    UniqueFd fd(OpenFile(file.c_str(), kOpenReadWrite));
    ASSERT_TRUE(TryLockWholeFile(fd.get()));
    // Another open file of this process does not get it either.
    UniqueFd again(OpenFile(file.c_str(), kOpenReadWrite));
    EXPECT_FALSE(TryLockWholeFile(again.get()));
    {
        korvo::test::Child contender("TryWholeFileLock", {.args = {file}});
        EXPECT_EQ(contender.wait(), 0);
    }
    UnlockWholeFile(fd.get());
    korvo::test::Child taker("TryWholeFileLock", {.args = {file}});
    EXPECT_EQ(taker.wait(), 1);
}

}  // namespace
