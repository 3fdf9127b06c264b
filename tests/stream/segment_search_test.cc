// Locating segments in directories through their description files and in
// the directories of "remote.dir", and streams that read what was located
// (the size query ahead of the transfer, the modified-TOC step's file
// list). On POSIX hosts also names under the POSIX text rules (a '\\' or a
// ':' is a character of a name), and the roots of CD drives named by a
// mount table (and, as root where the kernel allows it, a real ISO 9660
// image on a loop device), also after the directories of "remote.dir".
#if !defined(_WIN32)
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/log_capture.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/support/test_host.hpp"
#if !defined(_WIN32)
#include "tests/stream/program.hpp"
#endif

namespace {

using namespace locate_test;
using props_test::raised_by;
using namespace stream_test;
using stream_test::Toc;

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

class LocatedStreams : public locate_test::LocateTest {};

TEST_F(LocatedStreams, TheSizeQueryWritesEachSegmentsFileIntoTheCallersToc) {
    const std::string cd = directory("cd");
    place(cd, "a", "alpha");
    place(cd, "b", "bravo!");
#ifdef _WIN32
    // Windows names its CD drives itself (Wine has none): the directory is
    // one that "remote.dir" lists, which the size query searches alike.
    const uint8_t type = NET_STREAM_REMOTE;
    remote_dir(cd + "\n");
#else
    const uint8_t type = NET_STREAM_CD;
    mount_table({{cd, "udf"}});
#endif
    Toc list({{"a", 0}, {"b", 99, 3}});
    RawKey key(type, 1, "q1");
    Stream stream(net_stream_open(&key.key));
    net_stream_get_size(stream.get(), &list);
    EXPECT_EQ(text_of(list, 0, "dat_file"), cd + "/a.dat");
    EXPECT_EQ(text_of(list, 1, "data_path"), cd + "/b.dat");
    EXPECT_EQ(properties_get_long(&list.buffer[1], "size"), 6);
    EXPECT_EQ(properties_get_long(&list.buffer[1], "offset"), 3);

    // The stream keeps to those files: the drive is gone by now.
#ifdef _WIN32
    remote_dir("");
#else
    korvo::test::setEnvironmentVariable("KORVO_MOUNT_TABLE", (scratch / "none").c_str());
#endif
    net_stream_save_modified_toc(stream.get(), &list);
    EXPECT_EQ(locate_test::file_list(stream.get()), cd + "/a.dat," + cd + "/b.dat");
    EXPECT_EQ(text_of(*stream->toc, 1, "data_path"), cd + "/b.dat");
}

TEST_F(LocatedStreams, WhatIsNotFoundRaises182ForTheFirstMissingSegment) {
    const std::string cd = directory("cd");
    place(cd, "b", "bravo");
    Toc list({{"a", 1}, {"b", 1}, {"c", 1}});
    for (const uint8_t type : {NET_STREAM_CD, NET_STREAM_REMOTE_CD}) {
        SCOPED_TRACE(int(type));
        mount_table({});  // no drive at all
        if (type == NET_STREAM_REMOTE_CD)
            remote_dir(cd + "\n");
        RawKey key(type, 2, "m");
        Stream stream(net_stream_open(&key.key));
        auto raised = raised_by([&] { net_stream_get_size(stream.get(), &list); });
        EXPECT_EQ(raised.number, 182);
        EXPECT_EQ(raised.arguments, (std::vector<std::string>{"a", "1"}));
        EXPECT_EQ(raised.text,
                  "The segment a^1 required for this distribution could not be found.\n");
        // The modified TOC raises the same, and the stream has no list to read.
        raised = raised_by([&] { net_stream_save_modified_toc(stream.get(), &list); });
        EXPECT_EQ(raised.number, 182);
        EXPECT_EQ(stream->source, &key.key);
    }
}

TEST_F(LocatedStreams, ADirectoryStreamSearchesTheDirectoryAfterItsKeysComma) {
    const std::string dir = directory("dist dir");
    place(dir, "a", "alpha");
    Toc list({{"a", 5}});
    // With progress the open cut the directory off the key into sourceDir;
    // without, the key still holds it.
    for (const uint8_t progress : {1, 2}) {
        SCOPED_TRACE(int(progress));
        RawKey key(NET_STREAM_DIRECTORY, progress, "d9," + dir);
        Stream stream(net_stream_open(&key.key));
        net_stream_save_modified_toc(stream.get(), &list);
        EXPECT_EQ(read_all(stream.get()), "alpha||");
    }
    // A key without a directory: nothing is searched, and the log says so.
    korvo::rt::LogCapture capture;
    RawKey bare(NET_STREAM_DIRECTORY, 2, "d9");
    Stream stream(net_stream_open(&bare.key));
    EXPECT_EQ(raised_by([&] { net_stream_get_size(stream.get(), &list); }).number, 182);
    EXPECT_EQ(
        capture.texts(1),
        std::vector<std::string>{"korvo: The directory stream's key names no directory to search"});
}

TEST_F(LocatedStreams, OtherTypesLocateNothingAhead) {
    const std::string dir = directory("d");
    place(dir, "a", "alpha");
    mount_table({{dir, "iso9660"}});
    Toc list({{"a", 5}});
    for (const uint8_t type : {NET_STREAM_NETWORK, NET_STREAM_DEPOT}) {
        SCOPED_TRACE(int(type));
        RawKey key(type, 2, "o," + dir);
        Stream stream(net_stream_open(&key.key));
        net_stream_get_size(stream.get(), &list);
        EXPECT_EQ(text_of(list, 0, "dat_file"), "");
    }
    // A depot stream reads what "dat_file" names and searches nothing.
    RawKey key(NET_STREAM_DEPOT, 2, "o");
    Stream stream(net_stream_open(&key.key));
    EXPECT_EQ(raised_by([&] { net_stream_save_modified_toc(stream.get(), &list); }).number, 182);
    net_stream_get_size(nullptr, &list);
    net_stream_get_size(stream.get(), nullptr);
}

#if !defined(_WIN32)
// The POSIX text rules of names and the mount table have no Windows meaning.
TEST_F(DescriptionFiles, DirectoryNamesKeepTheirTextRules) {
    const std::string dir = directory("src");
    place(dir, "a", "alpha");
    Toc list({{"a", 1}});
    // One trailing separator of either kind is dropped.
    for (const std::string &name : {dir + "/", dir + "\\"}) {
        SCOPED_TRACE(name);
        const auto toc = view_of(list);
        Paths paths;
        net_stream_search_endpoint_depot(toc.get(), name.c_str(), &paths);
        EXPECT_EQ(paths.all(), std::vector<std::string>{dir + "/a.dat"});
    }
    // What is no directory, even as a drive's root ("X:" then "X:\"),
    // finds nothing and fails nothing.
    for (const std::string &name :
         {scratch / "X:", scratch / "missing", dir + "/a.dat", std::string(""), dir + "//"}) {
        SCOPED_TRACE(name);
        const auto toc = view_of(list);
        net_stream_search_endpoint_depot(toc.get(), name.c_str(), nullptr);
        EXPECT_EQ(marked(toc.get()), name == dir + "//" ? "a" : "");
    }
    // "X:" names the root "X:\" when that is a directory. On this host '\' is
    // a character of a name, so the root's files, joined without a '/',
    // are the names beside it that begin with "X:\".
    const std::string root = directory("X:\\");
    describe(root + "/d.toc", "a", "a.dat");                             // listed in the root ...
    std::filesystem::copy_file(root + "/d.toc", scratch / "X:\\d.toc");  // ... read beside it
    write_file(scratch / "X:\\a.dat", "beside");
    const auto toc = view_of(list);
    net_stream_search_endpoint_depot(toc.get(), (scratch / "X:").c_str(), nullptr);
    EXPECT_EQ(locate_test::text_of(*toc->list, 0, "data_path"), scratch / "X:\\a.dat");

    // Paths that do not fit a 1024-byte buffer are passed over, not cut.
    std::string deep = dir;
    while (deep.size() < 1030)
        deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    place(deep, "a", "alpha");
    korvo::rt::LogCapture capture;
    const auto far = view_of(list);
    net_stream_search_endpoint_depot(far.get(), deep.c_str(), nullptr);
    EXPECT_EQ(marked(far.get()), "");
    EXPECT_EQ(capture.texts(1),
              std::vector<std::string>{
                  "korvo: Passed over a path too long for a path-name buffer: " + deep});
}

TEST_F(DescriptionFiles, TheLastComponentOfTheLocationNamesTheDataFile) {
    const std::string dir = directory("src");
    describe(dir + "/a.toc", "a", "/a/b/seg.dat");
    describe(dir + "/b.toc", "b", "plain.dat");
    describe(dir + "/c.toc", "c", "C:\\cd\\seg.dat");  // no '/': the whole text is the name
    write_file(dir + "/seg.dat", "seg");
    write_file(dir + "/plain.dat", "plain");
    write_file(dir + "/C:\\cd\\seg.dat", "windows");
    Toc list({{"a", 1}, {"b", 1}, {"c", 1}});
    const auto toc = view_of(list);
    Paths paths;
    net_stream_search_endpoint_depot(toc.get(), dir.c_str(), &paths);
    std::vector<std::string> found = paths.all();  // in listing order
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{dir + "/C:\\cd\\seg.dat", dir + "/plain.dat",
                                               dir + "/seg.dat"}));
}

class CdDrives : public locate_test::LocateTest {};

TEST_F(CdDrives, TheMountTableNamesTheDrivesInItsOrder) {
    const std::string first = directory("cd one"), second = directory("dvd"),
                      disk = directory("disk");
    place(first, "a", "from the first");
    place(second, "a", "from the second");
    place(second, "b", "bravo");
    place(disk, "c", "not a CD");
    mount_table({{first, "iso9660"}, {disk, "ext4"}, {second, "udf"}});
    Toc list({{"a", 1}, {"b", 1}, {"c", 1}});
    const auto toc = view_of(list);
    Paths paths;
    net_stream_search_cd_drives(toc.get(), &paths);
    EXPECT_EQ(paths.all(), (std::vector<std::string>{first + "/a.dat", second + "/b.dat"}));
    EXPECT_EQ(marked(toc.get()), "ab");

    // The search stops at the drive that completes the TOC: a later drive's
    // broken description is never read.
    const std::string broken = directory("broken");
    write_file(broken + "/x.toc", "garbage");
    mount_table({{first, "iso9660"}, {broken, "iso9660"}});
    Toc only({{"a", 1}});
    const auto one = view_of(only);
    EXPECT_EQ(raised_by([&] { net_stream_search_cd_drives(one.get(), nullptr); }).number, -1);
    EXPECT_EQ(marked(one.get()), "a");

    // No mount table: no drive, and the log says why.
    korvo::test::setEnvironmentVariable("KORVO_MOUNT_TABLE", (scratch / "no-such-table").c_str());
    korvo::rt::LogCapture capture;
    const auto none = view_of(only);
    net_stream_search_cd_drives(none.get(), nullptr);
    EXPECT_EQ(marked(none.get()), "");
    EXPECT_EQ(capture.texts(1), std::vector<std::string>{"korvo: Cannot read the mount table " +
                                                         (scratch / "no-such-table") +
                                                         ": No such file or directory"});
}

// A real ISO 9660 image, made by genisoimage from description files saved by
// the library and mounted through a loop device, found in the machine's own
// mount table. Needs root, genisoimage and a kernel that mounts iso9660.
TEST_F(CdDrives, ARealIso9660ImageIsFoundThroughTheMachinesMountTable) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting an image needs root";
    std::ifstream filesystems("/proc/filesystems");
    const std::string offered((std::istreambuf_iterator<char>(filesystems)), {});
    if (offered.find("\tiso9660\n") == std::string::npos)
        GTEST_SKIP() << "this kernel mounts no iso9660 file system (not in /proc/filesystems; "
                        "in a container the host must provide the module)";
    const char *maker =
        ::access("/usr/bin/genisoimage", X_OK) == 0 ? "/usr/bin/genisoimage" : nullptr;
    if (maker == nullptr)
        GTEST_SKIP() << "genisoimage is not installed (scripts/setup.sh installs it)";

    // Ids of this run only: other runs may have images mounted meanwhile.
    const std::string id = "iso" + std::to_string(::getpid());
    const std::string source = directory("image"), mount = directory("mnt");
    place(source, id, "bytes of a read-only drive");
    stream_test::Program make({maker, "-quiet", "-R", "-o", scratch / "cd.iso", source});
    ASSERT_EQ(make.wait(), 0);
    stream_test::Program attach(
        {"/bin/mount", "-o", "loop,ro", "-t", "iso9660", scratch / "cd.iso", mount});
    if (attach.wait() != 0)
        GTEST_SKIP() << "the image could not be mounted (no free loop device?)";
    struct Unmount {
        std::string point;
        ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
    } unmount{mount};

    Toc list({{id, 1}});
    const auto toc = view_of(list);
    Paths paths;
    net_stream_search_cd_drives(toc.get(), &paths);  // /proc/self/mounts
    EXPECT_EQ(paths.all(), std::vector<std::string>{mount + "/" + id + ".dat"});
    EXPECT_EQ(properties_get_long(toc->segments[0]->properties, "size"),
              int32_t(std::string("bytes of a read-only drive").size()));
}

TEST_F(CdDrives, RemoteThenCdStreamsTryTheDrivesForWhatIsLeft) {
    const std::string remote = directory("remote"), cd = directory("cd");
    place(remote, "a", "alpha");
    place(cd, "a", "from the CD");
    place(cd, "b", "bravo");
    remote_dir(remote + "\n");
    mount_table({{cd, "iso9660"}});
    Toc list({{"a", 5}, {"b", 5}});
    RawKey key(NET_STREAM_REMOTE_CD, 2, "rc");
    Stream stream(net_stream_open(&key.key));
    net_stream_save_modified_toc(stream.get(), &list);
    EXPECT_EQ(locate_test::file_list(stream.get()), remote + "/a.dat," + cd + "/b.dat");
}
#endif

}  // namespace
