// Locating segments where POSIX hosts differ: directory and data file names
// under the POSIX text rules (a '\\' or a ':' is a character of a name), and
// the roots of CD drives named by a mount table (and, as root where the
// kernel allows it, a real ISO 9660 image on a loop device), also after the
// directories of "remote.dir".
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "runtime/log_capture.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/stream/program.hpp"
#include "tests/support/test_host.hpp"

namespace {

using locate_test::describe;
using locate_test::marked;
using locate_test::Paths;
using locate_test::place;
using locate_test::view_of;
using props_test::raised_by;
using stream_test::RawKey;
using stream_test::Stream;
using stream_test::Toc;
using stream_test::write_file;

class DescriptionFileNames : public locate_test::LocateTest {};

TEST_F(DescriptionFileNames, DirectoryNamesKeepTheirTextRules) {
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

TEST_F(DescriptionFileNames, TheLastComponentOfTheLocationNamesTheDataFile) {
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

class RemoteThenCdDirectories : public locate_test::LocateTest {};

TEST_F(RemoteThenCdDirectories, RemoteThenCdStreamsTryTheDrivesForWhatIsLeft) {
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

}  // namespace
