// Directory listing as the depot uses it (open, read to the end, close), its
// statuses, and the directory and current-directory operations.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "kes/kes_dir.h"
#include "kes_scratch.hpp"

namespace {

using kes_test::ExpectStatus;

class KesDirTest : public kes_test::NoDescriptorLeak {
  protected:
    kes_test::ScratchDir scratch;
    KesStatus status{};

    void Touch(const std::string &name) { std::ofstream(scratch / name) << "x"; }

    // Every name of a listing; reads past its end must keep reporting the end.
    std::set<std::string> List(const std::string &path) {
        std::set<std::string> names;
        KesDir *dir = nullptr;
        EXPECT_EQ(KesDirOpen(&status, &dir, path.c_str())->code, KES_OK);
        char name[KES_DIR_NAME_SIZE];
        while (KesDirReadDirectory(&status, name, dir)->code == KES_OK && names.size() < 100)
            names.insert(name);
        for (int i = 0; i < 2; ++i) {
            ExpectStatus(status, KES_END, 218, 3);
            name[0] = '\0';
            KesDirReadDirectory(&status, name, dir);
            EXPECT_STREQ(name, "");
        }
        KesDirClose(&status, dir);
        return names;
    }
};

}  // namespace

TEST_F(KesDirTest, ListsEveryEntryThenReportsTheEnd) {
    Touch("a.xml");
    Touch("b.dat");
    std::filesystem::create_directory(scratch / "sub");
    const std::set<std::string> expected{".", "..", "a.xml", "b.dat", "sub"};
    EXPECT_EQ(List(scratch.path()), expected);
    EXPECT_EQ(List(scratch.path() + "/"), expected);  // a trailing separator lists the same
}

TEST_F(KesDirTest, OpenFailuresStillHandBackARecordToClose) {
    Touch("file");
    KesDir *dir = nullptr;
    ExpectStatus(*KesDirOpen(&status, &dir, (scratch / "file").c_str()), KES_NOT_DIRECTORY, 0, 3);
    ASSERT_NE(dir, nullptr);
    KesDirClose(&status, dir);

    dir = nullptr;
    ExpectStatus(*KesDirOpen(&status, &dir, (scratch / "missing").c_str()), KES_SYSTEM_ERROR,
                 ENOENT, 2);
    ASSERT_NE(dir, nullptr);
    char name[KES_DIR_NAME_SIZE];
    EXPECT_EQ(KesDirReadDirectory(&status, name, dir)->code, KES_SYSTEM_ERROR);
    KesDirClose(&status, dir);

    dir = nullptr;
    ExpectStatus(*KesDirOpen(&status, &dir, nullptr), KES_INVALID, 0, 0);
    EXPECT_EQ(dir, nullptr);
    ExpectStatus(*KesDirReadDirectory(&status, name, nullptr), KES_INVALID, 0, 0);
}

TEST_F(KesDirTest, PathsWithoutRoomForTheWildcardAreRefused) {
    for (size_t length : {size_t{1021}, size_t{1022}, size_t{1500}}) {
        // "/." repeated, and a final separator, name it at any length.
        std::string path = scratch.path();
        while (path.size() + 2 <= length)
            path += "/.";
        if (path.size() < length)
            path += "/";
        KesDir *dir = nullptr;
        KesDirOpen(&status, &dir, path.c_str());
        if (length < 1022)
            ExpectStatus(status, KES_OK, 0, 0);
        else
            ExpectStatus(status, KES_NAME_TOO_LONG, 0, 4);
        KesDirClose(&status, dir);
    }
}

TEST_F(KesDirTest, ADirectoryRemovedBeforeTheFirstReadFailsThatRead) {
    std::filesystem::create_directory(scratch / "gone");
    KesDir *dir = nullptr;
    ASSERT_EQ(KesDirOpen(&status, &dir, (scratch / "gone").c_str())->code, KES_OK);
    std::filesystem::remove(scratch / "gone");
    char name[KES_DIR_NAME_SIZE];
    ExpectStatus(*KesDirReadDirectory(&status, name, dir), KES_SYSTEM_ERROR, 200 + ENOENT, 2);
    KesDirClose(&status, dir);
}

TEST_F(KesDirTest, CreatesRemovesAndEntersDirectories) {
    const std::string dir = scratch / "depot";
    ExpectStatus(*KesDirCreateDirectory(&status, dir.c_str()), KES_OK, 0, 0);
    EXPECT_TRUE(KesDirIsDirectory(dir.c_str()));
    ExpectStatus(*KesDirCreateDirectory(&status, dir.c_str()), KES_SYSTEM_ERROR, EEXIST, 1);
    Touch("depot/entry");
    EXPECT_FALSE(KesDirIsDirectory((dir + "/entry").c_str()));
    ExpectStatus(*KesDirRemoveDirectory(&status, dir.c_str()), KES_SYSTEM_ERROR, ENOTEMPTY, 1);
    std::filesystem::remove(dir + "/entry");
    ExpectStatus(*KesDirRemoveDirectory(&status, dir.c_str()), KES_OK, 0, 0);
    EXPECT_FALSE(KesDirIsDirectory(dir.c_str()));

    char before[KES_DIR_PATH_SIZE], now[KES_DIR_PATH_SIZE];
    ASSERT_EQ(KesDirGetCurrentDirectory(&status, before)->code, KES_OK);
    ExpectStatus(*KesDirSetCurrentDirectory(&status, dir.c_str()), KES_SYSTEM_ERROR, 200 + ENOENT,
                 1);
    ExpectStatus(*KesDirSetCurrentDirectory(&status, scratch.path().c_str()), KES_OK, 0, 0);
    KesDirGetCurrentDirectory(&status, now);
    EXPECT_EQ(std::filesystem::path(now), std::filesystem::canonical(scratch.path()));
    ExpectStatus(*KesDirSetCurrentDirectory(&status, before), KES_OK, 0, 0);
}
