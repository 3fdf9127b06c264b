// Locating segments in directories through their description files, and
// in the directories of "remote.dir". The cases of POSIX names and of CD
// drives named by a mount table are in segment_search_posix_test.cc.
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "runtime/log_capture.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace {

using locate_test::describe;
using locate_test::Layout;
using locate_test::marked;
using locate_test::Paths;
using locate_test::place;
using locate_test::view_of;
using props_test::raised_by;
using stream_test::RawKey;
using stream_test::Stream;
using stream_test::Toc;
using stream_test::write_file;

class DescriptionFiles : public locate_test::LocateTest {};

TEST_F(DescriptionFiles, LocateTheSegmentsTheyDescribeWhoseDataIsThere) {
    const std::string dir = directory("depot");
    // "a" twice: the "*.toc" description is read first and wins.
    describe(dir + "/a.toc", "a", "/far/away/a.dat");
    describe(dir + "/a.itc", "a", "other.dat", Layout::Marked);
    describe(dir + "/B.ITC", "b", "b.dat", Layout::Marked);     // names match in any case
    describe(dir + "/c.toc", "c", "c.dat");                     // its data file is missing
    describe(dir + "/d.toc", "d", "d.dat");                     // a FIFO is no data file
    describe(dir + "/e.toc", "e", "e.dat", Layout::Bare, "2");  // another version
    describe(dir + "/z.toc", "z", "z.dat");                     // not in the TOC
    write_file(dir + "/a.dat", "alpha");
    write_file(dir + "/other.dat", "other");
    write_file(dir + "/b.dat", "bravo!");
    write_file(dir + "/e.dat", "echo");
#if defined(_WIN32)
    ASSERT_TRUE(std::filesystem::create_directory(dir + "/d.dat"));  // no FIFOs on Windows
#else
    ASSERT_EQ(::mkfifo((dir + "/d.dat").c_str(), 0600), 0);
#endif

    Toc list({{"a", 1}, {"b", 1}, {"c", 1}, {"d", 1}, {"e", 1}});
    const auto toc = view_of(list);
    Paths paths;
    net_stream_search_endpoint_depot(toc.get(), dir.c_str(), &paths);
    EXPECT_EQ(marked(toc.get()), "ab");
    EXPECT_EQ(toc->marked_count, 2);
    EXPECT_EQ(paths.all(), (std::vector<std::string>{dir + "/a.dat", dir + "/b.dat"}));
    const Properties *a = toc->segments[0]->properties;
    EXPECT_STREQ(properties_get_string(a, "data_path"), (dir + "/a.dat").c_str());
    EXPECT_STREQ(properties_get_string(a, "dat_file"), (dir + "/a.dat").c_str());
    EXPECT_EQ(properties_get_long(a, "size"), 5);
    EXPECT_EQ(properties_get_long(toc->segments[1]->properties, "size"), 6);
    EXPECT_EQ(properties_get_string2(toc->segments[2]->properties, "data_path", nullptr), nullptr);

    // Marked segments are not searched again; the others still are.
    write_file(dir + "/c.dat", "charlie");
    net_stream_search_endpoint_depot(toc.get(), dir.c_str(), nullptr);
    EXPECT_EQ(marked(toc.get()), "abc");
    EXPECT_EQ(paths.length, 2u);
    EXPECT_EQ(properties_get_long(a, "size"), 5);
}

TEST_F(DescriptionFiles, BrokenDescriptionsRaiseTheirPropertyErrors) {
    const std::string dir = directory("src");
    Toc list({{"a", 1}});
    const auto search = [&] {
        const auto toc = view_of(list);
        return raised_by(
            [&] { net_stream_search_endpoint_depot(toc.get(), dir.c_str(), nullptr); });
    };
    // A matching description must say where its data is.
    describe(dir + "/a.toc", "a", "");
    auto raised = search();
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"location"});
    // One whose segment the TOC lacks needs no location.
    describe(dir + "/a.toc", "x", "");
    EXPECT_EQ(search().number, -1);  // nothing raised
    // Every description needs its segment, id and version.
    Properties empty{};
    properties_put_string_dup(&empty, "id", "a");
    properties_save_without_len(&empty, (dir + "/a.toc").c_str());
    properties_delete(&empty);
    raised = search();
    EXPECT_EQ(raised.number, 36);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"segment"});
    // Bytes that are no property list, or a "*.itc" in the bare layout.
    write_file(dir + "/a.toc", "not a property list");
    EXPECT_EQ(search().number, 35);
    std::filesystem::remove(dir + "/a.toc");
    describe(dir + "/a.itc", "a", "a.dat", Layout::Bare);
    EXPECT_NE(search().number, 0);
}

class RemoteDirectories : public locate_test::LocateTest {};

TEST_F(RemoteDirectories, TheListedDirectoriesAreSearchedInOrder) {
    const std::string one = directory("one"), two = directory("two"), hidden = directory("h");
    place(one, "a", "alpha");
    place(two, "a", "shadowed");
    place(two, "b", "bravo");
    place(hidden, "c", "charlie");
    // A line longer than a 1024-byte buffer is skipped whole: read in
    // pieces, its tail would name the hidden directory.
    const std::string long_line = std::string(1023, '/') + hidden;
    remote_dir("# the remote directories\n\n" + one + "\r\n#" + hidden + "\n" + long_line + "\n" +
               two + "\n" + hidden);
    Toc list({{"a", 5}, {"b", 6}, {"c", 7}});
    RawKey key(NET_STREAM_REMOTE, 1, "r1");
    Stream stream(net_stream_open(&key.key));
    korvo::rt::LogCapture capture;
    // The size query writes into the caller's TOC.
    net_stream_get_size(stream.get(), &list);
    EXPECT_EQ(locate_test::text_of(list, 0, "dat_file"), one + "/a.dat");
    EXPECT_EQ(locate_test::text_of(list, 1, "dat_file"), two + "/b.dat");
    EXPECT_EQ(locate_test::text_of(list, 2, "dat_file"), hidden + "/c.dat");
    EXPECT_EQ(capture.texts(1),
              std::vector<std::string>{"korvo: Skipped 1 line(s) longer than 1023 bytes in " +
                                       scratch / "data/remote.dir"});

    // The modified TOC takes what the query found and reads no list again.
    std::filesystem::remove(scratch / "data/remote.dir");
    net_stream_save_modified_toc(stream.get(), &list);
    EXPECT_EQ(locate_test::file_list(stream.get()),
              one + "/a.dat," + two + "/b.dat," + hidden + "/c.dat");
}

TEST_F(RemoteDirectories, AListThatCannotBeReadRaises170) {
    Toc list({{"a", 1}});
    const auto located = [&](int type) {
        RawKey key(static_cast<uint8_t>(type), 2, "r");
        Stream stream(net_stream_open(&key.key));
        return raised_by([&] { net_stream_get_size(stream.get(), &list); });
    };
    // QEL_DATDIR not set: there is no list to read.
    auto raised = located(NET_STREAM_REMOTE);
    EXPECT_EQ(raised.number, 170);
    EXPECT_EQ(raised.text, "remote.dir (QEL_DATDIR is not set) was not found in the depot.\n");
    const std::string data = directory("data");
    korvo::test::setEnvironmentVariable("QEL_DATDIR", data.c_str());
    raised = located(NET_STREAM_REMOTE_CD);
    EXPECT_EQ(raised.number, 170);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{data + "/remote.dir"});
    // What is no file in its place is refused at once: a FIFO is not waited
    // on (Windows has none: a directory stands in there).
#if defined(_WIN32)
    ASSERT_TRUE(std::filesystem::create_directory(data + "/remote.dir"));
#else
    ASSERT_EQ(::mkfifo((data + "/remote.dir").c_str(), 0600), 0);
#endif
    EXPECT_EQ(located(NET_STREAM_REMOTE).number, 170);
    // Comments only: nothing is found.
    std::filesystem::remove(data + "/remote.dir");
    remote_dir("# " + directory("x") + "\n#\n");
    raised = located(NET_STREAM_REMOTE);
    EXPECT_EQ(raised.number, 182);
    EXPECT_EQ(raised.arguments, (std::vector<std::string>{"a", "1"}));
}

}  // namespace
