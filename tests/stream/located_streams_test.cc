// Streams that read files from the places they search: the size query that
// locates a TOC ahead of the transfer, and the modified-TOC step that turns
// what was located into the stream's file list.
#include <gtest/gtest.h>

#include <string>

#include "runtime/log_capture.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace {

using namespace locate_test;
using props_test::raised_by;
using namespace stream_test;
using stream_test::Toc;

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

}  // namespace
