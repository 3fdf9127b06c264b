// Property encoding and the three file layouts: the bytes of each layout,
// round trips, and the files a reader must refuse (empty, short, too long,
// a wrong length, garbage) with the message and arguments each raises,
// leaving the caller's header empty and no descriptor open. On POSIX hosts
// also a save cut short by the process's file-size limit (setrlimit,
// SIGXFSZ), and FIFOs, links and POSIX modes in a file's place.
#include <fcntl.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "properties/property_files.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/support/test_process.hpp"

namespace {

using namespace props_test;
using Args = std::vector<std::string>;

// The list {id = "seg1"} and its 28 encoded bytes.
const Bytes kSeg1 = u32(1) + str("id") + str("string") + str("seg1");

Bytes le32(uint32_t n) {
    return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
}

enum Layout { kPlain, kMarked, kBare };
const char *const kLayoutNames[] = {"plain", "marked", "bare"};

void save(Layout layout, const Properties *list, const std::string &path) {
    if (layout == kPlain)
        properties_save(list, path.c_str());
    else if (layout == kMarked)
        properties_save_improved(list, path.c_str());
    else
        properties_save_without_len(list, path.c_str());
}

void load(Layout layout, Properties *list, const std::string &path) {
    if (layout == kPlain)
        properties_load(list, path.c_str());
    else if (layout == kMarked)
        properties_load_improved(list, path.c_str());
    else
        properties_load_without_len(list, path.c_str());
}

class PropertyFiles : public kes_test::NoDescriptorLeak {
  protected:
    void SetUp() override {
        // What the process makes once and keeps (the registration's locks,
        // GoogleTest's trace stack: handles on Windows) is made before the
        // count, so that only a test's own acquisitions are counted.
        ASSERT_EQ(korvo_init(), 1);
        { SCOPED_TRACE("made before the count"); }
        NoDescriptorLeak::SetUp();
    }
    Bytes contents(const std::string &name) {
        std::ifstream in(scratch / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::string put(const std::string &name, const Bytes &bytes) {
        std::ofstream(scratch / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        return scratch / name;
    }
    kes_test::ScratchDir scratch;
};

TEST_F(PropertyFiles, EachLayoutWritesItsBytes) {
    List list;
    properties_put_string_dup(&list, "id", "seg1");
    const Bytes expected[] = {le32(28) + kSeg1, u32(1) + u32(28) + kSeg1, kSeg1};
    for (Layout layout : {kPlain, kMarked, kBare}) {
        SCOPED_TRACE(kLayoutNames[layout]);
        const std::string path = scratch / kLayoutNames[layout];
        save(layout, &list, path);
        EXPECT_EQ(contents(kLayoutNames[layout]), expected[layout]);
#ifndef _WIN32  // Windows keeps no POSIX modes
        struct stat status;
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif
        List loaded;
        load(layout, &loaded, path);
        EXPECT_STREQ(properties_get_string(&loaded, "id"), "seg1");
        EXPECT_EQ(loaded.length, 1u);
    }
}

TEST_F(PropertyFiles, EmptyListsMarkersAndTruncation) {
    List empty;
    save(kPlain, &empty, scratch / "empty");
    EXPECT_EQ(contents("empty"), le32(4) + u32(0));
    List loaded;
    load(kPlain, &loaded, scratch / "empty");
    EXPECT_EQ(loaded.length, 0u);

    // The marker is read but not checked.
    List marked;
    load(kMarked, &marked, put("marker7", u32(7) + u32(28) + kSeg1));
    EXPECT_STREQ(properties_get_string(&marked, "id"), "seg1");

    // A save over a longer file leaves only the new bytes.
    put("long", Bytes(100, 0xAB));
    save(kBare, &empty, scratch / "long");
    EXPECT_EQ(contents("long"), u32(0));
}

TEST_F(PropertyFiles, BadFilesRaiseAndReleaseEverything) {
    const Bytes garbage = u32(1) + u32(9) + Bytes{'a'};  // a key longer than the input
    int32_t garbage_code = 0;
    {
        List ignored;
        garbage_code = props_test::decode(kProperties, garbage, &ignored);
    }
    ASSERT_NE(garbage_code, ADR_OK);
    const std::string code = std::to_string(garbage_code);
    const uint32_t n = uint32_t(garbage.size());
    struct Case {
        Layout layout;
        Bytes bytes;
        int32_t number;
        Args arguments;  // after the path for message 19
    };
    const Case cases[] = {
        {kPlain, {}, 19, {"0", "0"}},
        {kPlain, {28, 0}, 19, {"0", "0"}},
        {kPlain, le32(28) + Bytes(10, 0), 19, {"28", "0"}},
        {kPlain, le32(28) + kSeg1 + Bytes{0}, 19, {"28", "0"}},
        {kPlain, le32(0xFFFFFFFF) + kSeg1, 19, {"4294967295", "0"}},
        {kPlain, le32(n) + garbage, 35, {code}},
        {kMarked, {}, 19, {"0", "0"}},
        {kMarked, u32(1) + Bytes{0, 0}, 19, {"0", "0"}},
        {kMarked, u32(1) + u32(28) + kSeg1 + Bytes{0}, 19, {"28", "0"}},
        {kMarked, u32(1) + u32(29) + kSeg1, 19, {"29", "0"}},
        {kMarked, u32(1) + u32(n) + garbage, 35, {code}},
        {kBare, {}, 35, {std::to_string(ADR_E_TRUNCATED)}},
        {kBare, kSeg1 + Bytes{0}, 35, {std::to_string(ADR_E_BAD_LENGTH)}},
        {kBare, garbage, 35, {code}},
    };
    int i = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(kLayoutNames[c.layout]) + " case " + std::to_string(i));
        const std::string path = put("bad" + std::to_string(i++), c.bytes);
        List list;
        const auto raised = raised_by([&] { load(c.layout, &list, path); });
        EXPECT_EQ(raised.number, c.number);
        Args expected = c.arguments;
        if (c.number == 19)
            expected.insert(expected.begin(), path);
        EXPECT_EQ(raised.arguments, expected);
        EXPECT_EQ(list.length, 0u);
        EXPECT_EQ(list.buffer, nullptr);
    }
}

// A header that cannot be read at all (a directory, a write-only handle)
// raises message 19 with the length read so far, none, and the read's errno.
TEST_F(PropertyFiles, UnreadableHeadersGiveTheLengthReadSoFar) {
    const std::string written = put("written", le32(28) + kSeg1);
    struct Case {
        std::string path;
        int32_t flags;
        int error;
    };
    const Case cases[] = {
#ifndef _WIN32  // the Windows C runtime opens no directory as a file
        {scratch.path(), O_RDONLY | O_DIRECTORY, EISDIR},
#endif
        {written, O_WRONLY, EBADF}};
    for (const Case &c : cases) {
        for (auto reader : {properties_read, properties_read_improved}) {
            SCOPED_TRACE(c.path);
            FileRecord *file = file_open(c.path.c_str(), c.flags);
            List list;
            const auto raised = raised_by([&] { reader(&list, file); });
            file_delete(file);
            EXPECT_EQ(raised.number, 19);
            EXPECT_EQ(raised.arguments, (Args{c.path, "0", std::to_string(c.error)}));
        }
    }
}

// A save replaces a regular file only: a directory (on POSIX hosts also a
// FIFO or a link) in its place is refused with message 12 and left as it
// was, without blocking; a load of a directory raises message 11.
TEST_F(PropertyFiles, SavesReplaceOnlyRegularFiles) {
    List list;
    properties_put_string_dup(&list, "id", "seg1");
    const std::string dir = scratch / "dir";
    std::filesystem::create_directory(dir);
    std::vector<std::pair<std::string, int>> cases{{dir, EISDIR}};
#ifndef _WIN32  // Windows has no FIFOs and no POSIX modes
    const std::string fifo = scratch / "fifo", link = scratch / "link";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink((scratch / "elsewhere").c_str(), link.c_str()), 0);
    cases.insert(cases.end(), {{fifo, EINVAL}, {link, ELOOP}});
#endif
    for (const auto &[path, error] : cases) {
        const auto raised = raised_by([&] { properties_save(&list, path.c_str()); });
        EXPECT_EQ(raised.number, 12) << path;
        EXPECT_EQ(raised.arguments, (Args{path, std::to_string(error)}));
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    List loaded;
    EXPECT_EQ(raised_by([&] { properties_load(&loaded, dir.c_str()); }).number, 11);
#ifndef _WIN32
    EXPECT_FALSE(std::filesystem::exists(scratch / "elsewhere"));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // An existing file keeps its permission bits.
    const std::string shared = put("shared", {});
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    properties_save(&list, shared.c_str());
    struct stat status;
    ASSERT_EQ(::stat(shared.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
#endif
}

TEST_F(PropertyFiles, EncodingAndFileFailures) {
    // A TOC goes through encode and decode with its own type code.
    props_test::Toc toc, decoded;
    List segment;
    properties_put_long_dup(&segment, "size", 1024);
    korvo::rt::MgPtr<Properties> copy(properties_clone(&segment));
    seq_add(reinterpret_cast<Sequence *>(&toc), copy.get(),
            sizeof(Properties));  // takes the contents
    void *data = nullptr;
    uint32_t length = 0;
    properties_encode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, &toc, &data, &length);
    properties_decode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, data, length, &decoded);
    EXPECT_EQ(properties_get_long(&decoded.buffer[0], "size"), 1024);
    mg_free(data);

    // A value cell missing from an any cannot be encoded.
    Property hollow{const_cast<char *>("size"), {TC_long, nullptr}};
    Properties broken{1, 1, &hollow};
    const auto encode = raised_by([&] { properties_save(&broken, (scratch / "x").c_str()); });
    EXPECT_EQ(encode.number, 34);
    EXPECT_EQ(encode.text, "Failed to encode data. The error code is 9.\n");
    const auto decode = raised_by([&] {
        List list;
        properties_decode(kProperties, kSeg1.data(), 27, &list);
    });
    EXPECT_EQ(decode.text, "Failed to decode data. The error code is 2.\n");

    const std::string missing = scratch / "none/x";
    List list;
    EXPECT_EQ(raised_by([&] { properties_save(&list, missing.c_str()); }).number, 12);
    EXPECT_EQ(raised_by([&] { properties_load(&list, missing.c_str()); }).number, 11);
    const std::string path = put("ro", {});
    FileRecord *read_only = file_open(path.c_str(), O_RDONLY);
    const auto write = raised_by([&] { properties_write_improved(&list, read_only); });
    EXPECT_EQ(write.number, 21);
    EXPECT_EQ(write.arguments, (Args{path, "8"}));
    file_delete(read_only);
}

#if !defined(_WIN32)
// Windows has no file-size limit of a process, no FIFOs and no POSIX modes.
// The process may write files of at most `bytes` bytes while it lives; a
// longer write falls short, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

// A save that cannot write the whole list (a full disk) raises and leaves the
// previous file whole, in every layout, and no temporary file behind.
TEST_F(PropertyFiles, AFailedSaveLeavesThePreviousFile) {
    List small, large;
    properties_put_string_dup(&small, "id", "seg1");
    properties_put_string_dup(&large, "id", std::string(200, 'x').c_str());
    for (Layout layout : {kPlain, kMarked, kBare}) {
        SCOPED_TRACE(kLayoutNames[layout]);
        const std::string path = scratch / kLayoutNames[layout];
        save(layout, &small, path);
        const Bytes before = contents(kLayoutNames[layout]);
        props_test::Raised raised;
        {
            FileSizeLimit limit(64);
            raised = raised_by([&] { save(layout, &large, path); });
        }
        EXPECT_EQ(raised.number, 21);
        EXPECT_EQ(contents(kLayoutNames[layout]), before);
        List loaded;
        load(layout, &loaded, path);
        EXPECT_STREQ(properties_get_string(&loaded, "id"), "seg1");
    }
    size_t names = 0;
    for (const auto &entry : std::filesystem::directory_iterator(scratch.path()))
        names += entry.path().filename().string()[0] != '.';
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 3);
    EXPECT_EQ(names, 3u);
}

// Loads read regular files only: a FIFO is refused with message 11 at once,
// instead of waiting for a writer in open (run in a child, so that a wait
// fails the test).
// Loads the FIFO arg(0) in every layout, then the directory arg(1).
KORVO_CHILD_BODY(LoadAFifoAndADirectory) {
    const std::string &fifo = child.arg(0);
    for (Layout layout : {kPlain, kMarked, kBare}) {
        List list;
        const auto raised = raised_by([&] { load(layout, &list, fifo); });
        if (raised.number != 11 || raised.arguments != Args{fifo})
            return 1;
    }
    List list;
    return raised_by([&] { load(kPlain, &list, child.arg(1)); }).number == 11 ? 0 : 2;
}

TEST_F(PropertyFiles, LoadsReadOnlyRegularFiles) {
    const std::string fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    korvo::test::Child child("LoadAFifoAndADirectory", {.args = {fifo, scratch.path()}});
    EXPECT_EQ(child.wait(), 0);
}
#endif  // !_WIN32

}  // namespace
