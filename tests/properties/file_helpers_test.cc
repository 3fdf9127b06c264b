// The raising file, directory and path-name helpers: path-name text rules,
// the file object's round trip and every message it raises with its
// arguments (on POSIX hosts also a write cut short by a file-size limit),
// times and stat, and the case-insensitive directory listing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "properties/helpers/dir_enum.h"
#include "properties/helpers/file_helpers.h"
#include "properties/helpers/pathname.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using namespace props_test;
using Args = std::vector<std::string>;

struct PathDelete {
    void operator()(char *p) const { pathname_delete(p); }
};
using Path = std::unique_ptr<char, PathDelete>;

// The text `start` after `edit` ran on a path-name buffer holding it.
template <typename Edit>
std::string edited(const std::string &start, Edit edit) {
    Path buffer(pathname_clone(start.c_str()));
    edit(buffer.get());
    return buffer.get();
}

TEST(PathNames, SeparatorsAndNames) {
    auto append_f = [](char *b) { EXPECT_EQ(pathname_append(b, "f"), 0); };
    EXPECT_EQ(edited("dir", append_f), "dir/f");
    EXPECT_EQ(edited("dir/", append_f), "dir/f");
    EXPECT_EQ(edited("", append_f), "/f");
    EXPECT_EQ(edited("", pathname_append_separator), "/");
    EXPECT_EQ(edited("a/", pathname_append_separator), "a/");
    EXPECT_EQ(edited("/", pathname_remove_separator), "/");
    EXPECT_EQ(edited("a//", pathname_remove_separator), "a");

    EXPECT_STREQ(pathname_get_name("a\\b/x\\y"), "x\\y");  // a slash wins over a later backslash
    EXPECT_STREQ(pathname_get_name("c:\\d\\e"), "e");
    EXPECT_STREQ(pathname_get_name("plain"), "plain");
    korvo::rt::MgPtr<char> built(pathname_build_filename("42", ".", "mds"));
    EXPECT_STREQ(built.get(), "42.mds");
    EXPECT_EQ(pathname_build_filename("a", nullptr, "c"), nullptr);

    const auto raised = raised_by([] { pathname_clone(nullptr); });
    EXPECT_EQ(raised.text, "Cannot clone a path name that is NULL.\n");
    // A NULL name raises after the separator was added.
    EXPECT_EQ(edited("dir",
                     [](char *b) {
                         EXPECT_EQ(raised_by([&] { pathname_append(b, nullptr); }).number, 33);
                     }),
              "dir/");
}

TEST(PathNames, TextsThatDoNotFitAreRefusedWhole) {
    const std::string longest(pathname_max_length() - 1, 'a');
    EXPECT_NE(Path(pathname_clone(longest.c_str())), nullptr);
    EXPECT_EQ(Path(pathname_clone((longest + "a").c_str())), nullptr);
    const std::string start(1020, 'd');
    EXPECT_EQ(edited(start, [](char *b) { EXPECT_EQ(pathname_append(b, "abc"), -1); }), start);
    EXPECT_EQ(edited(start, [](char *b) { EXPECT_EQ(pathname_append(b, "ab"), 0); }),
              start + "/ab");
    EXPECT_EQ(pathname_clone_and_append(std::string(1022, 'd').c_str(), "x"), nullptr);
}

void expect_raises(const std::function<void()> &call, int32_t number, const Args &arguments) {
    const auto raised = raised_by(call);
    EXPECT_EQ(raised.number, number);
    EXPECT_EQ(raised.arguments, arguments);
}

class FileHelpers : public kes_test::NoDescriptorLeak {
  protected:
    kes_test::ScratchDir scratch;
};

TEST_F(FileHelpers, CreateWriteSeekReadCloseRemove) {
    const std::string path = scratch / "data";
    FileRecord *file = file_create(path.c_str(), O_RDWR | O_TRUNC, 0640);
    EXPECT_STREQ(file->name, path.c_str());
    EXPECT_TRUE(file_is_open(file));
    EXPECT_EQ(file_write(file, "0123456789", 10), 10);
    EXPECT_EQ(file_seek(file, 4), 4);
    char bytes[16] = {};
    EXPECT_EQ(file_read(file, bytes, sizeof bytes), 6);
    EXPECT_STREQ(bytes, "456789");
    EXPECT_EQ(file_read(file, bytes, sizeof bytes), 0);
    EXPECT_EQ(file_get_size(path.c_str()), 10);
    EXPECT_EQ(file_access(path.c_str(), R_OK | W_OK), 0);
    EXPECT_EQ(file_close(file), 0);
    EXPECT_FALSE(file_is_open(file));
    EXPECT_FALSE(file_is_open(nullptr));

    // A closed file cannot be closed again, but it can still be removed.
    expect_raises([&] { file_close(file); }, 14, {path});
    EXPECT_EQ(file_remove(file), 0);
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    expect_raises([&] { file_remove(file); }, 16, {path});
    file_delete(file);

    // file_delete closes what is still open.
    file_delete(file_create(path.c_str(), O_WRONLY, 0600));
}

TEST_F(FileHelpers, EveryFailureRaisesItsMessageWithItsArguments) {
    const std::string missing = scratch / "none/file";
    const char *m = missing.c_str();
    EXPECT_EQ(raised_by([&] { file_open(m, O_RDONLY); }).text,
              "Cannot open the file " + missing + ".\n");
    expect_raises([&] { file_create(m, O_WRONLY, 0600); }, 12, {missing, std::to_string(ENOENT)});
    expect_raises([&] { file_get_size(m); }, 24, {missing});
    expect_raises([&] { file_access(m, 4); }, 25, {missing, "4"});

    const std::string path = scratch / "w";
    FileRecord *file = file_create(path.c_str(), O_WRONLY, 0600);
    char byte;
    expect_raises([&] { file_read(file, &byte, 1); }, 19, {path, "1", std::to_string(EBADF)});
    expect_raises([&] { file_seek(file, -1); }, 23, {path, std::to_string(EINVAL)});
    file_delete(file);

    // No handle at all.
    expect_raises([] { file_close(nullptr); }, 13, {});
    expect_raises([] { file_remove(nullptr); }, 15, {});
    expect_raises([] { file_delete(nullptr); }, 17, {});
    expect_raises([&] { file_read(nullptr, &byte, 1); }, 18, {});
    expect_raises([&] { file_write(nullptr, &byte, 1); }, 20, {});
    expect_raises([] { file_seek(nullptr, 0); }, 22, {});
}

// The record's modification time: whole seconds, and the nanoseconds where
// the host's record has them (Windows keeps whole seconds only).
int64_t mtime_seconds(const struct stat &record) {
#ifdef _WIN32
    return record.st_mtime;
#else
    return record.st_mtim.tv_sec;
#endif
}
int64_t mtime_nanoseconds([[maybe_unused]] const struct stat &record) {
#ifdef _WIN32
    return 0;
#else
    return record.st_mtim.tv_nsec;
#endif
}

TEST_F(FileHelpers, TimesAndStat) {
    const std::string path = scratch / "t";
    std::ofstream(path) << "x";
    const int64_t times[] = {4102444800,  // 2100, with 500 ns more
                             -86400};     // 1969
    for (const int64_t t : times) {
        ASSERT_TRUE(korvo::test::setModificationTime(path, t, t > 0 ? 500 : 0));
        EXPECT_EQ(file_get_mtime(path.c_str()), t);
        struct stat record;
        EXPECT_EQ(stat_ex(path.c_str(), &record), 0);
        EXPECT_EQ(mtime_seconds(record), t);
        EXPECT_EQ(mtime_nanoseconds(record), 0);
    }
    EXPECT_EQ(file_get_mtime((scratch / "none").c_str()), -1);
    struct stat record;
    EXPECT_EQ(stat_ex((scratch / "none").c_str(), &record), -1);

    // A directory keeps the time stat gave it, fractions included (where
    // the host's record has them).
    ASSERT_TRUE(korvo::test::setModificationTime(scratch.path(), 1700000000, 123));
    EXPECT_EQ(stat_ex(scratch.path().c_str(), &record), 0);
    EXPECT_EQ(mtime_seconds(record), 1700000000);
#ifndef _WIN32
    EXPECT_EQ(mtime_nanoseconds(record), 123);
#endif
}

TEST_F(FileHelpers, DirectoriesAreCreatedAndRecognised) {
    const std::string sub = scratch / "sub";
    EXPECT_EQ(dir_create_directory(sub.c_str()), 0);
    EXPECT_TRUE(dir_is_directory(sub.c_str()));
    EXPECT_TRUE(dir_is_directory((sub + "///").c_str()));
    EXPECT_TRUE(dir_is_directory("/"));
    std::ofstream(scratch / "file") << "x";
    EXPECT_FALSE(dir_is_directory((scratch / "file").c_str()));
    EXPECT_FALSE(dir_is_directory(nullptr));

    expect_raises([&] { dir_create_directory(sub.c_str()); }, 10, {sub});
    expect_raises([] { dir_create_directory(nullptr); }, 9, {});
}

TEST_F(FileHelpers, ListingMatchesIgnoringCaseAndKeepsNamesAsOnDisk) {
    for (const char *name : {"x.toc", "Y.TOC", "z.Toc", "a.itc", "toc", "b.toc.bak"})
        std::ofstream(scratch / name) << "x";
    std::filesystem::create_directory(scratch / "d.toc");

    auto listed = [&](const char *pattern) {
        std::set<std::string> names;
        DirRecord *dir = dir_new(scratch.path().c_str());
        EXPECT_EQ(dir_get_pathname(dir), scratch.path());
        DirEntryEnum *entries = dir_entries(dir, pattern);
        EXPECT_STREQ(dir_entry_enum_next_element(entries), "");
        while (dir_entry_enum_has_more_elements(entries))
            names.insert(dir_entry_enum_next_element(entries));
        EXPECT_FALSE(dir_entry_enum_has_more_elements(entries));
        dir_entry_enum_delete(entries);
        dir_delete(dir);
        return names;
    };
    EXPECT_EQ(listed("*.toc"), (std::set<std::string>{"x.toc", "Y.TOC", "z.Toc", "d.toc"}));
    EXPECT_EQ(listed("*.ITC"), std::set<std::string>{"a.itc"});
    EXPECT_EQ(listed("*").size(), 7u);  // never "." or ".."
    EXPECT_EQ(listed(".*"), std::set<std::string>{});

    DirRecord *missing = dir_new((scratch / "none").c_str());
    EXPECT_EQ(dir_entries(missing, "*"), nullptr);
    EXPECT_EQ(dir_entries(missing, nullptr), nullptr);
    dir_delete(missing);
    EXPECT_FALSE(dir_entry_enum_has_more_elements(nullptr));
    EXPECT_EQ(raised_by([] { dir_new(nullptr); }).number, 32);
}

#if !defined(_WIN32)
// A write cut short by the process's file-size limit (setrlimit, SIGXFSZ),
// which Windows has no counterpart of.

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

TEST_F(FileHelpers, AShortWriteUnderAFileSizeLimitRaises) {
    const std::string path = scratch / "limited";
    korvo::test::Child child("WriteUnderASizeLimit", {.args = {path}});
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(file_get_size(path.c_str()), 4);
}
#endif  // !_WIN32

}  // namespace
