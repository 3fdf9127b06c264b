// Network streams under a gateway that breaks the stream's shape: every read
// either hands out bytes the TOC allows, in the segment they belong to, or
// ends with a defined answer; the record never counts more than the TOC.
// The method runs in a child (a body of this program, started again); the
// test plays the gateway byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records/korvo_command.h"
#include "runtime/gateway.h"
#include "runtime/raise.hpp"
#include "tests/runtime/raw_gateway.hpp"
#include "tests/stream/stream_test_support.hpp"

namespace {

using namespace korvo::test;

class HostileGateways : public stream_test::StreamTest {};

Bytes stream_packet(const Bytes &payload) {
    return packet(GATEWAY_KIND_STREAM, payload);
}
Bytes end_of_stream() {
    return packet(GATEWAY_KIND_END_OF_STREAM, {});
}

// Reads up to `reads` times and writes down each answer: the count, or
// "raised: <text>" (which ends the reading).
std::string read_transcript(NetStream *stream, int reads) {
    std::string transcript;
    for (int i = 0; i < reads; ++i) {
        if (!transcript.empty())
            transcript += " ";
        char *data = nullptr;
        try {
            const int32_t n = net_stream_read(stream, &data);
            transcript += std::to_string(n);
            if (n > 0)
                net_stream_free_buffer(stream, data);
            else if (data != nullptr)
                return transcript + " (a buffer came with it)";
        } catch (const korvo::rt::Exception &e) {
            std::string text = e.what();
            if (!text.empty() && text.back() == '\n')
                text.pop_back();
            return transcript + "raised: " + text;
        }
    }
    return transcript;
}

// Reads the stream arg(0) over segments a and b arg(1) times and expects
// the transcript arg(2); a stream that refused a packet stays broken.
KORVO_CHILD_BODY(ReadFromAHostileGateway) {
    const stream_test::MethodStream stream(child.arg(0), {{"a", 300, 0}, {"b", 100, 40}});
    CHILD_CHECK(stream.ready());
    const std::string &expected = child.arg(2);
    const std::string transcript = read_transcript(stream.get(), std::stoi(child.arg(1)));
    if (transcript != expected) {
        std::fprintf(stderr, "read: %s\n", transcript.c_str());
        return 1;
    }
    if (expected.find("raised") != std::string::npos) {
        char *data = nullptr;
        CHILD_CHECK(net_stream_read(stream.get(), &data) == -1 && data == nullptr);
    }
    return 0;
}

struct Case {
    const char *what;
    std::vector<Bytes> packets;
    int reads;
    std::string transcript;
    const char *c_len;  // the checkpoint left; "" for none
};

// Segment a: 300 bytes from 0; b: 100 bytes from 40 (60 to come). Total 400.
TEST_F(HostileGateways, EveryReadHandsOutOnlyWhatTheTocAllowsOrSaysWhy) {
    const Bytes empty;
    const std::string cut = "100 raised: The gateway ended segment a^1 at byte 100 of 300.";
    const std::vector<Case> cases = {
        {"a whole stream",
         {data_packet(300), stream_packet(empty), data_packet(60), stream_packet(empty),
          end_of_stream()},
         6,
         "300 0 60 0 0 0",
         "400"},
        {"the end of the stream in mid-segment", {data_packet(100), end_of_stream()}, 3, cut, ""},
        {"an empty packet in mid-segment", {data_packet(100), stream_packet(empty)}, 3, cut, ""},
        {"a NULL command with bytes behind it in mid-segment",
         {data_packet(100), stream_packet({KORVO_COMMAND_NULL, 'y', 'z'})},
         3,
         cut,
         ""},
        {"an empty DATA packet in mid-segment",
         {data_packet(100), stream_packet({KORVO_COMMAND_DATA})},
         3,
         cut,
         ""},
        {"data beyond the segment's size",
         {data_packet(290), data_packet(20)},
         3,
         "290 raised: The gateway sent 20 bytes for segment a^1, which has 10 bytes left.",
         ""},
        {"data instead of the segment's end",
         {data_packet(300), data_packet(1)},
         3,
         "300 raised: The gateway sent 1 bytes for segment a^1, which has 0 bytes left.",
         ""},
        {"data beyond the TOC's total",
         {data_packet(300), stream_packet(empty), data_packet(60), stream_packet(empty),
          data_packet(5)},
         6,
         "300 0 60 0 raised: The gateway sent 5 bytes after the last segment of the TOC.",
         "400"},
        {"the end of the stream before a segment began",
         {data_packet(300), stream_packet(empty), end_of_stream()},
         4,
         "300 0 raised: The gateway ended segment b^1 at byte 40 of 100.",
         ""},
    };
    int round = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string id = "hostile" + std::to_string(round++);
        MethodProcess method("ReadFromAHostileGateway",
                             {.args = {id, std::to_string(c.reads), c.transcript}});
        EXPECT_EQ(method.gateway.receive()[0], GATEWAY_KIND_TOC);
        for (const Bytes &p : c.packets)
            method.gateway.send(p);
        EXPECT_EQ(method.wait(), 0);
        const auto values = progress(id);
        EXPECT_EQ(values.at("t_len"), "400");
        EXPECT_EQ(values.count("c_len") ? values.at("c_len") : "", c.c_len);
        const bool refused = c.transcript.find("raised") != std::string::npos;
        EXPECT_EQ(values.at("err"), refused ? "true" : "false");
    }
}

// One message of 64 MiB for a segment of 200 000 bytes: nothing of it is
// handed out or counted.
KORVO_CHILD_BODY(ReadAHugeMessage) {
    const stream_test::MethodStream stream("huge", {{"a", 200000, 0}});
    CHILD_CHECK(stream.ready());
    const std::string transcript = read_transcript(stream.get(), 2);
    CHILD_CHECK(transcript ==
                "raised: The gateway sent 67108863 bytes for segment a^1, which has 200000 "
                "bytes left.");
    return 0;
}

TEST_F(HostileGateways, AMessageFarBeyondItsSegmentIsRefusedWhole) {
    MethodProcess method("ReadAHugeMessage");
    EXPECT_EQ(method.gateway.receive()[0], GATEWAY_KIND_TOC);
    const std::size_t whole = GATEWAY_MESSAGE_MAX;
    for (std::size_t sent = 0; sent < whole; sent += 65536) {
        Bytes payload(65536, 'x');
        if (sent == 0)
            payload[0] = KORVO_COMMAND_DATA;
        method.gateway.send(packet(GATEWAY_KIND_STREAM, payload, sent + 65536 < whole));
    }
    EXPECT_EQ(method.wait(), 0);
    EXPECT_EQ(progress("huge").count("c_len"), 0u);
    EXPECT_EQ(progress("huge").at("err"), "true");
}

// Every code byte the gateway can send: DATA carries data, NULL ends a
// segment, the commands and the codes that name none end the read with the
// code negated and hand out nothing; what follows a command's code byte is
// never counted as data.
KORVO_CHILD_BODY(ReadEveryCodeByte) {
    const stream_test::MethodStream stream("codes", {{"a", 100000, 0}});
    CHILD_CHECK(stream.ready());
    char *data = nullptr;
    CHILD_CHECK(net_stream_read(stream.get(), &data) == 20000);
    net_stream_free_buffer(stream.get(), data);
    for (int code = 2; code <= 255; ++code) {
        data = reinterpret_cast<char *>(1);
        if (net_stream_read(stream.get(), &data) != -code || data != nullptr) {
            std::fprintf(stderr, "code %d\n", code);
            return 1;
        }
        CHILD_CHECK((decode_command(code) == nullptr) == (code > KORVO_COMMAND_ROAM));
    }
    CHILD_CHECK(net_stream_read(stream.get(), &data) == 10);
    net_stream_free_buffer(stream.get(), data);
    return 0;
}

TEST_F(HostileGateways, EveryCodeByteHasItsAnswer) {
    MethodProcess method("ReadEveryCodeByte");
    EXPECT_EQ(method.gateway.receive()[0], GATEWAY_KIND_TOC);
    method.gateway.send(data_packet(20000));
    for (int code = 2; code <= 255; ++code)
        method.gateway.send(stream_packet(Bytes{uint8_t(code)} + Bytes(30000, 'c')));
    method.gateway.send(data_packet(10));
    EXPECT_EQ(method.wait(), 0);
    // Only the 20000 data bytes before the commands were counted.
    EXPECT_EQ(progress("codes").at("c_len"), "20000");
    EXPECT_EQ(progress("codes").at("paused"), "true");
    EXPECT_EQ(progress("codes").at("err"), "false");
}

// A checkpoint counts only what earlier reads handed out: the bytes of a
// read are counted by the next one, and the last bytes by the read that
// ends the stream.
KORVO_CHILD_BODY(ReadBehindTheCheckpoints) {
    const stream_test::MethodStream stream("behind", {{"a", 40000, 0}});
    CHILD_CHECK(stream.ready());
    const char *work = std::getenv("KORVO_WORK_DIR");
    const auto c_len = [&] {
        const auto values = stream_test::progress_of(work, "behind");
        return values.count("c_len") ? values.at("c_len") : std::string("none");
    };
    char *data = nullptr;
    const std::vector<std::pair<int32_t, std::string>> steps = {
        {20000, "none"}, {20000, "20000"}, {0, "40000"}};
    for (const auto &[n, checkpoint] : steps) {
        CHILD_CHECK(net_stream_read(stream.get(), &data) == n);
        if (n > 0)
            net_stream_free_buffer(stream.get(), data);
        if (c_len() != checkpoint) {
            std::fprintf(stderr, "after a read of %d: c_len %s\n", n, c_len().c_str());
            return 1;
        }
    }
    return 0;
}

TEST_F(HostileGateways, CheckpointsFollowTheReadsThatHandedTheBytesOut) {
    MethodProcess method("ReadBehindTheCheckpoints");
    EXPECT_EQ(method.gateway.receive()[0], GATEWAY_KIND_TOC);
    method.gateway.send(data_packet(20000));
    method.gateway.send(data_packet(20000));
    method.gateway.send(stream_packet({}));
    EXPECT_EQ(method.wait(), 0);
}

}  // namespace
