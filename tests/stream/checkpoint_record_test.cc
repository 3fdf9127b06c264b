// A stream's checkpoints as its progress file shows them: the file changed
// under the stream between two checkpoints.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "stream/mstat.h"
#include "tests/stream/stream_test_support.hpp"

namespace {

using stream_test::contents;
using stream_test::pattern;
using stream_test::Stream;
using stream_test::Toc;
using stream_test::write_file;

using Values = std::map<std::string, std::string>;

class Checkpoints : public stream_test::StreamTest {
  protected:
    Stream open(const std::string &file, const Toc &toc) {
        stream_test::RawKey key(NET_STREAM_FILES, 1, "d," + file);
        Stream stream(net_stream_open(&key.key));
        net_stream_save_modified_toc(stream.get(), &toc);
        return stream;
    }
    // Reads once and hands the buffer back; the count.
    int32_t read(NetStream *stream) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        net_stream_free_buffer(stream, data);
        return n;
    }
    // "c_len" in the stream's record as the stream holds it.
    static std::string held_count(NetStream *stream) {
        const char *count =
            properties_get_string2(mstat_get_properties(stream->progress), "c_len", nullptr);
        return count != nullptr ? count : "";
    }
    std::string record_path() const { return work + "/mstat/d.mds"; }
    static Values expected(const std::string &total, const std::string &count) {
        return {{"msid", "d"},       {"err", "false"}, {"close", "false"},
                {"paused", "false"}, {"t_len", total}, {"c_len", count}};
    }
};

// Between two checkpoints another program replaces the record's file, gives
// it a second name, cuts it short or lengthens it: the next checkpoint still
// leaves the whole record at the record's path, and nothing under the other
// name changes.
TEST_F(Checkpoints, AFileChangedUnderTheStreamIsWrittenWhole) {
    const std::string file = scratch / "a";
    write_file(file, pattern(16384 * 8, 1));
    const Toc toc({{"a", 16384 * 8, 0, file}});
    Stream stream = open(file, toc);
    ASSERT_EQ(read(stream.get()), 16384);
    ASSERT_EQ(read(stream.get()), 16384);
    ASSERT_EQ(progress("d")["c_len"], "16384");

    const std::string path = record_path();
    const std::string linked = scratch / "linked";
    const auto checkpoint = [&](const std::string &count) {
        ASSERT_EQ(read(stream.get()), 16384);
        EXPECT_EQ(progress("d"), expected("131072", count));
    };
    // Replaced by a copy of the same bytes: the stream's file has no name.
    const std::string copy = scratch / "copy";
    write_file(copy, contents(path));
    ASSERT_EQ(std::rename(copy.c_str(), path.c_str()), 0);
    checkpoint("32768");

    // A second name outside the progress directory keeps what it had.
    ASSERT_EQ(::link(path.c_str(), linked.c_str()), 0);
    const std::string before = contents(linked);
    checkpoint("49152");
    EXPECT_EQ(contents(linked), before);
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_nlink, 1u);

    // Cut short, then lengthened.
    ASSERT_EQ(::truncate(path.c_str(), 3), 0);
    checkpoint("65536");
    ASSERT_EQ(::truncate(path.c_str(), std::filesystem::file_size(path) + 4), 0);
    checkpoint("81920");
    checkpoint("98304");
}

}  // namespace
