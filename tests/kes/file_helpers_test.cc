// The raising file, directory and path-name helpers: path-name text rules,
// the file object's round trip and every message it raises with its
// arguments, times and stat, and the case-insensitive directory listing.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <string>

#include "kes/dir_enum.h"
#include "kes/file_helpers.h"
#include "kes/pathname.h"
#include "kes_scratch.hpp"
#include "kes_test_process.hpp"
#include "tests/properties/props_test_util.hpp"

namespace {

using props_test::raised_by;
using Args = std::vector<std::string>;

struct PathDelete {
    void operator()(char *p) const { pathname_delete(p); }
};
using Path = std::unique_ptr<char, PathDelete>;

std::string appended(const char *start, const char *name) {
    Path buffer(pathname_clone(start));
    EXPECT_EQ(pathname_append(buffer.get(), name), 0);
    return buffer.get();
}

TEST(PathNames, AppendPutsExactlyOneSeparator) {
    EXPECT_EQ(appended("dir", "f"), "dir/f");
    EXPECT_EQ(appended("dir/", "f"), "dir/f");
    EXPECT_EQ(appended("", "f"), "/f");
    EXPECT_EQ(Path(pathname_clone_and_append("/a", "b")).get(), std::string("/a/b"));

    Path buffer(pathname_clone("dir"));
    const auto raised = raised_by([&] { pathname_append(buffer.get(), nullptr); });
    EXPECT_EQ(raised.number, 33);
    EXPECT_EQ(raised.text, "Cannot append to a path name that is NULL.\n");
    EXPECT_STREQ(buffer.get(), "dir/");  // the separator was added first
}

TEST(PathNames, TextsThatDoNotFitAreRefusedWhole) {
    EXPECT_EQ(pathname_max_length(), 1024);
    EXPECT_EQ(pathname_max_component_length(), 1024);
    const std::string longest(1023, 'a');
    EXPECT_NE(Path(pathname_clone(longest.c_str())), nullptr);
    EXPECT_EQ(Path(pathname_clone((longest + "a").c_str())), nullptr);

    Path buffer(pathname_clone(std::string(1020, 'd').c_str()));
    EXPECT_EQ(pathname_append(buffer.get(), "abc"), -1);  // 1020 + '/' + 3 leaves no NUL
    EXPECT_EQ(std::string(buffer.get()), std::string(1020, 'd'));
    EXPECT_EQ(pathname_append(buffer.get(), "ab"), 0);
    EXPECT_EQ(pathname_clone_and_append(std::string(1022, 'd').c_str(), "x"), nullptr);

    const auto raised = raised_by([] { pathname_clone(nullptr); });
    EXPECT_EQ(raised.number, 32);
    EXPECT_EQ(raised.text, "Cannot clone a path name that is NULL.\n");
}

TEST(PathNames, SeparatorsAndNames) {
    auto trimmed = [](const char *text) {
        Path buffer(pathname_clone(text));
        pathname_remove_separator(buffer.get());
        return std::string(buffer.get());
    };
    EXPECT_EQ(trimmed("/"), "/");
    EXPECT_EQ(trimmed("a//"), "a");
    EXPECT_EQ(trimmed("//"), "/");
    auto separated = [](const char *text) {
        Path buffer(pathname_clone(text));
        pathname_append_separator(buffer.get());
        return std::string(buffer.get());
    };
    EXPECT_EQ(separated(""), "/");
    EXPECT_EQ(separated("a"), "a/");
    EXPECT_EQ(separated("a/"), "a/");

    EXPECT_STREQ(pathname_get_name("a\\b/x\\y"), "x\\y");
    EXPECT_STREQ(pathname_get_name("a/b\\c"), "b\\c");
    EXPECT_STREQ(pathname_get_name("c:\\d\\e"), "e");
    EXPECT_STREQ(pathname_get_name("plain"), "plain");
    EXPECT_STREQ(pathname_get_name("dir/"), "");

    korvo::rt::MgPtr<char> built(pathname_build_filename("42", ".", "mds"));
    EXPECT_STREQ(built.get(), "42.mds");
    EXPECT_EQ(pathname_build_filename("a", nullptr, "c"), nullptr);
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
    const auto again = raised_by([&] { file_close(file); });
    EXPECT_EQ(again.number, 14);
    EXPECT_EQ(again.arguments, Args{path});
    EXPECT_EQ(file_remove(file), 0);
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    const auto gone = raised_by([&] { file_remove(file); });
    EXPECT_EQ(gone.number, 16);
    EXPECT_EQ(gone.text, "Cannot remove the file " + path + ".\n");
    file_delete(file);

    // file_delete closes what is still open.
    file_delete(file_create(path.c_str(), O_WRONLY, 0600));
}

TEST_F(FileHelpers, EveryFailureRaisesItsMessageWithItsArguments) {
    const std::string missing = scratch / "none/file";
    auto opened = raised_by([&] { file_open(missing.c_str(), O_RDONLY); });
    EXPECT_EQ(opened.number, 11);
    EXPECT_EQ(opened.text, "Cannot open the file " + missing + ".\n");
    auto created = raised_by([&] { file_create(missing.c_str(), O_WRONLY, 0600); });
    EXPECT_EQ(created.number, 12);
    EXPECT_EQ(created.arguments, (Args{missing, std::to_string(ENOENT)}));
    EXPECT_EQ(raised_by([&] { file_get_size(missing.c_str()); }).arguments, Args{missing});
    EXPECT_EQ(raised_by([&] { file_get_size(missing.c_str()); }).number, 24);
    const auto access = raised_by([&] { file_access(missing.c_str(), 4); });
    EXPECT_EQ(access.number, 25);
    EXPECT_EQ(access.text, "Failed to access the file " + missing + " with the mode 4.\n");

    const std::string path = scratch / "w";
    FileRecord *file = file_create(path.c_str(), O_WRONLY, 0600);
    char byte;
    const auto read = raised_by([&] { file_read(file, &byte, 1); });  // write-only
    EXPECT_EQ(read.number, 19);
    EXPECT_EQ(read.arguments, (Args{path, "1", std::to_string(EBADF)}));
    const auto seek = raised_by([&] { file_seek(file, -1); });
    EXPECT_EQ(seek.number, 23);
    EXPECT_EQ(seek.text, "A seek operation failed on the file " + path +
                             ". The error code is errno=" + std::to_string(EINVAL) + ".\n");
    file_delete(file);

    // No handle at all.
    EXPECT_EQ(raised_by([] { file_close(nullptr); }).number, 13);
    EXPECT_EQ(raised_by([] { file_remove(nullptr); }).number, 15);
    EXPECT_EQ(raised_by([] { file_delete(nullptr); }).number, 17);
    EXPECT_EQ(raised_by([&] { file_read(nullptr, &byte, 1); }).number, 18);
    EXPECT_EQ(raised_by([&] { file_write(nullptr, &byte, 1); }).number, 20);
    EXPECT_EQ(raised_by([] { file_seek(nullptr, 0); }).number, 22);
}

TEST_F(FileHelpers, AShortWriteRaises) {
    // A file-size limit of 4 bytes lets the first write through in part.
    const std::string path = scratch / "limited";
    korvo::test::Child child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4, 4};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        FileRecord *file = file_create(path.c_str(), O_WRONLY, 0600);
        const auto raised = raised_by([&] { file_write(file, "0123456789", 10); });
        file_delete(file);
        return raised.number == 21 && raised.arguments == Args{path, "10"} ? 0 : 1;
    });
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(file_get_size(path.c_str()), 4);
}

TEST_F(FileHelpers, TimesAndStat) {
    const std::string path = scratch / "t";
    std::ofstream(path) << "x";
    const struct timespec times[2][2] = {{{0, UTIME_OMIT}, {4102444800, 500}},  // 2100
                                         {{0, UTIME_OMIT}, {-86400, 0}}};       // 1969
    for (const auto &t : times) {
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
        EXPECT_EQ(file_get_mtime(path.c_str()), t[1].tv_sec);
        struct stat record;
        EXPECT_EQ(stat_ex(path.c_str(), &record), 0);
        EXPECT_EQ(record.st_mtim.tv_sec, t[1].tv_sec);
        EXPECT_EQ(record.st_mtim.tv_nsec, 0);
    }
    EXPECT_EQ(file_get_mtime((scratch / "none").c_str()), -1);
    struct stat record;
    EXPECT_EQ(stat_ex((scratch / "none").c_str(), &record), -1);

    // A directory keeps the time stat gave it, fractions included.
    const struct timespec dir_time[2] = {{0, UTIME_OMIT}, {1700000000, 123}};
    ASSERT_EQ(::utimensat(AT_FDCWD, scratch.path().c_str(), dir_time, 0), 0);
    EXPECT_EQ(stat_ex(scratch.path().c_str(), &record), 0);
    EXPECT_EQ(record.st_mtim.tv_nsec, 123);
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

    const auto exists = raised_by([&] { dir_create_directory(sub.c_str()); });
    EXPECT_EQ(exists.number, 10);
    EXPECT_EQ(exists.text, "Cannot create the directory " + sub + ".\n");
    EXPECT_EQ(raised_by([] { dir_create_directory(nullptr); }).number, 9);
}

TEST_F(FileHelpers, ListingMatchesIgnoringCaseAndKeepsNamesAsOnDisk) {
    for (const char *name : {"x.toc", "Y.TOC", "z.Toc", "a.itc", "toc", "b.toc.bak"})
        std::ofstream(scratch / name) << "x";
    ::mkdir((scratch / "d.toc").c_str(), 0700);

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

}  // namespace
