// Network streams through the channel: the TOC handed over on the first
// read, the code byte of each packet, checkpoints of what arrived, the
// commands that end a read, and polling for them. The method runs in a
// child (a body of this program, started again); the test plays the gateway
// byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "properties/property_files.h"
#include "runtime/gateway.h"
#include "runtime/log_capture.hpp"
#include "tests/runtime/raw_gateway.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace {

using namespace korvo::test;
using namespace stream_test;
using stream_test::Toc;

class NetworkStreams : public stream_test::StreamTest {};

const std::vector<stream_test::SegmentEntry> kTwoSegments = {{"a", 40000, 0}, {"b", 10, 6}};

KORVO_CHILD_BODY(ReadTwoSegments) {
    const stream_test::MethodStream stream("net1", kTwoSegments);
    CHILD_CHECK(stream.ready());
    char *data = nullptr;
    // A 5-byte packet starting with 1: four data bytes, past the code byte.
    CHILD_CHECK(net_stream_read(stream.get(), &data) == 4);
    CHILD_CHECK(std::string(data, 4) == "wxyz" && data[-1] == 1);
    net_stream_free_buffer(stream.get(), data);  // frees from the code byte
    const int32_t sizes[] = {16384, 16384, 7228, 0, 4, 0};
    for (int32_t size : sizes) {
        CHILD_CHECK(net_stream_read(stream.get(), &data) == size);
        net_stream_free_buffer(stream.get(), data);
    }
    return 0;
}

TEST_F(NetworkStreams, TheFirstReadHandsTheTocOverAndPacketsLoseTheirCodeByte) {
    Toc toc(kTwoSegments);
    MethodProcess method("ReadTwoSegments");
    auto &gateway = method.gateway;
    // The modified TOC, as the stream encodes its copy.
    void *encoded = nullptr;
    uint32_t length = 0;
    properties_encode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, &toc, &encoded, &length);
    const Bytes expected(static_cast<uint8_t *>(encoded), static_cast<uint8_t *>(encoded) + length);
    mg_free(encoded);
    EXPECT_EQ(gateway.receive(), packet(GATEWAY_KIND_TOC, expected));
    gateway.send(packet(GATEWAY_KIND_STREAM, Bytes{1, 'w', 'x', 'y', 'z'}));
    for (std::size_t size : {16384u, 16384u, 7228u})
        gateway.send(data_packet(size));
    gateway.send(packet(GATEWAY_KIND_STREAM, {}));
    gateway.send(data_packet(4));
    gateway.send(packet(GATEWAY_KIND_STREAM, {}));
    EXPECT_EQ(method.wait(), 0);
    EXPECT_TRUE(gateway.receive(100).empty());  // the TOC went up once

    // Each read counts the bytes of the read before it; the read that ended
    // b counted its last 4 bytes, which reached the total.
    const auto values = progress("net1");
    EXPECT_EQ(values.at("t_len"), "40010");
    EXPECT_EQ(values.at("c_len"), "40010");
    EXPECT_EQ(values.at("close"), "true");
}

// Reads the stream arg(0) until the command arg(1) ends a read.
KORVO_CHILD_BODY(ReadUntilACommand) {
    const int code = std::stoi(child.arg(1));
    const stream_test::MethodStream stream(child.arg(0), {{"a", 100, 0}});
    CHILD_CHECK(stream.ready());
    char *data = reinterpret_cast<char *>(1);
    CHILD_CHECK(net_stream_read(stream.get(), &data) == 10);
    net_stream_free_buffer(stream.get(), data);
    CHILD_CHECK(net_stream_read(stream.get(), &data) == -code && data == nullptr);
    return 0;
}

TEST_F(NetworkStreams, CommandsEndTheReadAndOnlyPauseMarksTheRecord) {
    for (const uint8_t code : {2, 3, 4, 5}) {
        SCOPED_TRACE(int(code));
        const std::string id = "cmd" + std::to_string(code);
        MethodProcess method("ReadUntilACommand", {.args = {id, std::to_string(code)}});
        method.gateway.send(data_packet(10));
        method.gateway.send(packet(GATEWAY_KIND_STREAM, {code}));
        EXPECT_EQ(method.wait(), 0);
        EXPECT_EQ(progress(id).at("paused"), code == 3 ? "true" : "false");
    }
}

KORVO_CHILD_BODY(ReadFromALostChannel) {
    const stream_test::MethodStream stream("lost", {{"a", 100000, 0}});
    CHILD_CHECK(stream.ready());
    char *data = nullptr;
    CHILD_CHECK(net_stream_read(stream.get(), &data) == 20000);
    net_stream_free_buffer(stream.get(), data);
    CHILD_CHECK(net_stream_read(stream.get(), &data) == -1 && data == nullptr);
    return 0;
}

TEST_F(NetworkStreams, AFailedChannelMarksTheRecordInError) {
    MethodProcess method("ReadFromALostChannel");
    EXPECT_EQ(method.gateway.receive()[0], GATEWAY_KIND_TOC);
    method.gateway.send(data_packet(20000));
    method.gateway.close();  // in the middle of the segment
    EXPECT_EQ(method.wait(), 0);
    const auto values = progress("lost");
    EXPECT_EQ(values.at("err"), "true");
    EXPECT_EQ(values.at("c_len"), "20000");
    EXPECT_EQ(values.at("close"), "true");
}

// Polls once, says so on end(0), waits for end(1), then polls for what the
// gateway sent meanwhile.
KORVO_CHILD_BODY(PollForCommands) {
    korvo::rt::LogCapture capture;
    char *command = nullptr;
    CHILD_CHECK(is_stream_stopped(&command) == 0 && command == nullptr);
    child.end(0).send();
    CHILD_CHECK(child.end(1).receive() == 'x');
    CHILD_CHECK(is_stream_stopped(&command) == -2);
    mg_free(command);
    CHILD_CHECK(is_stream_stopped(&command) == -3);
    mg_free(command);
    command = nullptr;
    CHILD_CHECK(is_stream_stopped(&command) == 0);  // another packet stays with the caller
    CHILD_CHECK(command != nullptr && command[0] == 1 && command[1] == 'd');
    mg_free(command);
    CHILD_CHECK(capture.texts(2) ==
                (std::vector<std::string>{"from_file distribution has been canceled",
                                          "from_file distribution has been paused"}));
    return 0;
}

TEST_F(NetworkStreams, PollingFindsCancelAndPause) {
    korvo::test::Pipe polled, sent;
    MethodProcess method("PollForCommands", {.ends = {polled.writeEnd(), sent.readEnd()}});
    polled.closeWrite();
    ASSERT_EQ(polled.receive(), 'x');
    method.gateway.send(packet(GATEWAY_KIND_STREAM, {2}));
    method.gateway.send(packet(GATEWAY_KIND_STREAM, {3}));
    method.gateway.send(packet(GATEWAY_KIND_STREAM, {1, 'd'}));
    sent.send();
    EXPECT_EQ(method.wait(), 0);
}

// Opens a CD stream over the data file arg(0) and reads once the gateway
// has sent its command (end(0) says when).
KORVO_CHILD_BODY(ReadAPollingStream) {
    const stream_test::MethodStream stream("cd1", {{"a", 10, 0, "", child.arg(0)}}, NET_STREAM_CD);
    CHILD_CHECK(stream.ready());
    CHILD_CHECK(child.end(0).receive() == 'x');
    char *data = nullptr;
    CHILD_CHECK(net_stream_read(stream.get(), &data) == -2 && data == nullptr);
    CHILD_CHECK(stream->started == 0);
    return 0;
}

// A CD stream polls before each read: a pending CANCEL ends it before any
// file is opened (its data file does not even exist).
TEST_F(NetworkStreams, APollingStreamStopsBeforeTouchingItsFiles) {
    const std::string missing = scratch / "missing.dat";
    korvo::test::Pipe sent;
    MethodProcess method("ReadAPollingStream", {.args = {missing}, .ends = {sent.readEnd()}});
    method.gateway.send(packet(GATEWAY_KIND_STREAM, {2}));
    sent.send();
    EXPECT_EQ(method.wait(), 0);
    EXPECT_EQ(progress("cd1").count("err"), 1u);
    EXPECT_EQ(progress("cd1").at("err"), "false");  // a stop is no error
}

// Several streams on one channel, one after the other. Each new TOC starts
// over: what the gateway still sends of the previous stream, up to its end
// of stream, is dropped, whether that stream was read to its last segment,
// stopped by a command, or left in the middle of a segment.
struct Round {
    std::string id;
    int32_t size;
    std::vector<int32_t> reads;  // what the method's reads answer
};
const std::vector<Round> kRounds = {
    {"first", 10, {10, 0}},    // its end of stream stays unread
    {"second", 5, {5, 0, 0}},  // read to its end of stream
    {"paused", 100, {10, -3}}, {"after", 3, {3, 0}},
    {"left", 100, {10}},  // left in the middle of its segment
    {"last", 4, {4, 0, 0}},
};

KORVO_CHILD_BODY(ReadStreamAfterStream) {
    CHILD_CHECK(korvo_init() == 1);
    for (const Round &round : kRounds) {
        RawKey key(NET_STREAM_NETWORK, 1, round.id);
        Stream stream(net_stream_open(&key.key));
        Toc toc({{round.id, round.size, 0}});
        net_stream_save_modified_toc(stream.get(), &toc);
        for (const int32_t expected : round.reads) {
            char *data = nullptr;
            const int32_t n = net_stream_read(stream.get(), &data);
            if (n != expected) {
                std::fprintf(stderr, "%s: read %d, not %d\n", round.id.c_str(), n, expected);
                return 1;
            }
            if (n > 0)
                net_stream_free_buffer(stream.get(), data);
        }
    }
    return 0;
}

TEST_F(NetworkStreams, EachNewTocStartsTheChannelOver) {
    MethodProcess method("ReadStreamAfterStream");
    auto &gateway = method.gateway;
    const Bytes segment_end = packet(GATEWAY_KIND_STREAM, {});
    const Bytes stream_end = packet(GATEWAY_KIND_END_OF_STREAM, {});
    const auto expect_toc = [&] { EXPECT_EQ(gateway.receive()[0], GATEWAY_KIND_TOC); };
    // A round: its TOC, then a data packet, the segment's end (or a command)
    // and the end of the stream.
    const auto round = [&](std::size_t size, const Bytes &end) {
        expect_toc();
        gateway.send(data_packet(size));
        gateway.send(end);
        gateway.send(stream_end);
    };
    round(10, segment_end);
    round(5, segment_end);
    round(10, packet(GATEWAY_KIND_STREAM, {3}));  // a PAUSE
    round(3, segment_end);
    expect_toc();
    gateway.send(data_packet(10));
    expect_toc();
    gateway.send(data_packet(20));  // the rest of "left", then its end
    gateway.send(stream_end);
    gateway.send(data_packet(4));
    gateway.send(segment_end);
    gateway.send(stream_end);
    EXPECT_EQ(method.wait(), 0);
    EXPECT_EQ(progress("second").at("c_len"), "5");
    EXPECT_EQ(progress("last").at("c_len"), "4");
}

}  // namespace
