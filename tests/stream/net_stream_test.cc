// Opening and closing net streams from their keys, and the modified-TOC
// step: the stream's own TOC, the file list of a file-kind stream, and a
// distribution recorded complete at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "kes/kes_path_rules.hpp"
#include "properties/korvo_properties.h"
#include "runtime/log_capture.hpp"
#include "tests/properties/props_test_util.hpp"
#include "tests/stream/locate_test_support.hpp"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using props_test::raised_by;
using namespace stream_test;
using stream_test::Toc;

class NetStreams : public stream_test::StreamTest {};

// What OpenACdsStream found: whether the CDS client loaded (as the loading
// logs it) and whether the stream opened.
constexpr int kNoClientNoStream = 0;
constexpr int kClientAndStream = 2;

// Opens a CDS stream keeping progress for the distribution arg(0), the
// process's first; exits with what it found (kNoClientNoStream,
// kClientAndStream, or 4 and 5 for a stream that opened against what the
// loading said).
KORVO_CHILD_BODY(OpenACdsStream) {
    if (korvo_init() != 1)
        return 3;
    korvo::rt::LogCapture loading;
    RawKey key(NET_STREAM_CDS, 1, child.arg(0));
    const Stream stream(net_stream_open(&key.key));
    const std::vector<std::string> lines = loading.texts(2);
    const bool loaded = std::find(lines.begin(), lines.end(),
                                  "korvo: cds_init: cds_load() returned 0.") != lines.end();
    if (stream == nullptr)
        return loaded ? 4 : kNoClientNoStream;
    return loaded ? kClientAndStream : 5;
}

TEST_F(NetStreams, KeysThatOpenNothing) {
    EXPECT_EQ(net_stream_open(nullptr), nullptr);
    for (uint8_t type : {0, 5, 12, 255}) {
        RawKey key(type, 1, "d");
        EXPECT_EQ(net_stream_open(&key.key), nullptr) << int(type);
    }
    StreamKey empty{0, 0, nullptr};
    EXPECT_EQ(net_stream_open(&empty), nullptr);
    EXPECT_TRUE(progress("d").empty());

    // Without a CDS client a CDS stream is not opened. On Windows the client
    // is also found through PATH, which holds its folder under the test run,
    // and through the machine-wide registry, which other test programs set
    // meanwhile: there the stream opens exactly when the client loaded. A
    // loaded client stays for the process, so a child opens the stream.
    korvo::test::Child opener("OpenACdsStream", {.args = {"d"}});
    const int opened = opener.wait();
    if (korvo::kes::kHostPathStyle == korvo::kes::PathStyle::kWindows) {
        EXPECT_TRUE(opened == kNoClientNoStream || opened == kClientAndStream) << opened;
    } else {
        EXPECT_EQ(opened, kNoClientNoStream);
    }
    if (opened == kNoClientNoStream) {
        EXPECT_TRUE(progress("d").empty());
    }

    // A stream that must keep progress and cannot make its record.
    korvo::test::setEnvironmentVariable("KORVO_WORK_DIR",
                                        (work + "/" + std::string(1100, 'w')).c_str());
    korvo::rt::LogCapture capture;
    RawKey network(NET_STREAM_NETWORK, 1, "d");
    EXPECT_EQ(net_stream_open(&network.key), nullptr);
    EXPECT_EQ(capture.texts(2), std::vector<std::string>{
                                    "korvo: Cannot make the progress record of distribution d\n"});
}

TEST_F(NetStreams, TheProgressFlagCutsTheKeyAtItsComma) {
    RawKey key(NET_STREAM_NETWORK, 1, "dist1,/data");
    Stream stream(net_stream_open(&key.key));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->type, NET_STREAM_NETWORK);
    EXPECT_EQ(stream->keepsProgress, 1);
    EXPECT_EQ(stream->chunkSize, 16384);
    EXPECT_EQ(stream->source, &key.key);
    EXPECT_STREQ(stream->sourceDir, "/data");
    ASSERT_NE(stream->progress, nullptr);
    EXPECT_STREQ(stream->progress->distId, "dist1");
    EXPECT_EQ(key.text(), "dist1");  // the comma became the text's end
    EXPECT_EQ(std::string(reinterpret_cast<char *>(key.bytes.data()) + 9), "/data");
    stream.reset();
    EXPECT_EQ(progress("dist1"),
              (std::map<std::string, std::string>{
                  {"msid", "dist1"}, {"err", "false"}, {"close", "true"}, {"paused", "false"}}));

    RawKey quiet(NET_STREAM_DIRECTORY, 2, "dist2,/data");
    Stream plain(net_stream_open(&quiet.key));
    EXPECT_EQ(plain->type, NET_STREAM_DIRECTORY);
    EXPECT_EQ(plain->keepsProgress, 0);
    EXPECT_EQ(plain->progress, nullptr);
    EXPECT_EQ(plain->sourceDir, nullptr);
    EXPECT_EQ(quiet.text(), "dist2,/data");
}

TEST_F(NetStreams, KeyTextsEndWithinTheKey) {
    // A text without its NUL ends at the key's length.
    RawKey key(NET_STREAM_NETWORK, 1, "dist1");
    key.key.length -= 1;
    Stream stream(net_stream_open(&key.key));
    ASSERT_NE(stream, nullptr);
    EXPECT_STREQ(stream->progress->distId, "dist1");
    key.key.length = 3;
    Stream empty(net_stream_open(&key.key));
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty->progress->distId, "");
}

TEST_F(NetStreams, SendingAndCallersStreams) {
    RawKey key(NET_STREAM_SEND, 1, "d");
    NetStream *send = net_stream_open(&key.key);
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->chunkSize, 0);
    EXPECT_EQ(send->keepsProgress, 0);
    char *data = reinterpret_cast<char *>(1);
    EXPECT_EQ(net_stream_read(send, &data), 0);
    EXPECT_EQ(data, nullptr);
    // A sending stream cannot be closed: message 30, and it stays.
    const auto raised = raised_by([&] { net_stream_close(send); });
    EXPECT_EQ(raised.number, 30);
    EXPECT_EQ(raised.arguments, std::vector<std::string>{"3"});
    EXPECT_EQ(raised.text,
              "Cannot close the net stream because the specified stream type 3 is invalid.\n");
    mg_free(send);

    // A caller's own I/O-handle stream reads nothing and closes its handle.
    auto *iom = static_cast<NetStream *>(mg_calloc(1, sizeof(NetStream)));
    iom->type = NET_STREAM_IOM;
    EXPECT_EQ(net_stream_read(iom, &data), 0);
    net_stream_close(iom);
    net_stream_close(nullptr);
    free_toc_octets(nullptr);
}

TEST_F(NetStreams, TheModifiedTocListsTheLocatedDataFiles) {
    const std::string a = scratch / "a.dat", b = scratch / "b.dat";
    stream_test::write_file(a, "alpha");
    stream_test::write_file(b, "bravo!");
    Toc toc({{"a", 5, 0, "", a}, {"b", 6, 2, "", b}});
    RawKey key(NET_STREAM_DEPOT, 2, "d");
    Stream stream(net_stream_open(&key.key));
    EXPECT_EQ(raised_by([&] { net_stream_save_modified_toc(stream.get(), nullptr); }).number, 31);
    net_stream_save_modified_toc(stream.get(), &toc);
    ASSERT_NE(stream->toc, nullptr);
    EXPECT_STREQ(properties_get_string(&stream->toc->buffer[1], "data_path"), b.c_str());
    EXPECT_EQ(properties_get_string2(&toc.buffer[1], "data_path", nullptr), nullptr);  // a copy
    EXPECT_NE(stream->source, &key.key);  // now the stream's own file list

    EXPECT_EQ(locate_test::read_all(stream.get()), "alpha|avo!||");
}

TEST_F(NetStreams, AFileStreamWithAnUnlocatedSegmentRaises) {
    const std::string a = scratch / "a.dat";
    stream_test::write_file(a, "alpha");
    Toc toc({{"a", 5, 0, "", a}, {"lost", 3, 0}, {"b", 1, 0}});
    RawKey key(NET_STREAM_DIRECTORY, 2, "d,/nowhere");
    Stream stream(net_stream_open(&key.key));
    const auto raised = raised_by([&] { net_stream_save_modified_toc(stream.get(), &toc); });
    EXPECT_EQ(raised.number, 182);
    EXPECT_EQ(raised.arguments, (std::vector<std::string>{"lost", "1"}));
    EXPECT_EQ(stream->source, &key.key);  // still the caller's key
    char *data = nullptr;
    EXPECT_EQ(net_stream_read(stream.get(), &data), 0);  // nothing to read from
}

TEST_F(NetStreams, ADistributionAlreadyCompleteIsRecordedAtOnce) {
    RawKey key(NET_STREAM_NETWORK, 1, "done");
    Stream stream(net_stream_open(&key.key));
    Toc partial({{"a", 5, 4}});
    net_stream_save_modified_toc(stream.get(), &partial);
    EXPECT_TRUE(progress("done").empty());
    EXPECT_EQ(stream->source, &key.key);  // a network stream keeps its key

    Toc complete(
        {{"a", 5, 5}, {"b", 0, 0}, {"c", 2000000000, 2000000000}, {"d", 2000000000, 2000000000}});
    net_stream_save_modified_toc(stream.get(), &complete);
    EXPECT_EQ(progress("done")["t_len"], "4000000005");
    EXPECT_EQ(progress("done")["c_len"], "4000000005");
}

}  // namespace
