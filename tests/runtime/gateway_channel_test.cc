// The gateway channel: the bytes of every packet kind in both directions,
// long messages cut and joined, messages kept for their own readers, and a
// gateway that sends garbage, goes quiet or goes away.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/gateway.h"
#include "runtime/log_capture.hpp"
#include "runtime/mg_memory.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/runtime/raw_gateway.hpp"

namespace {

using korvo::test::Bytes;
using korvo::test::ChildStart;
using korvo::test::MethodProcess;
using korvo::test::packet;
using korvo::test::text;
using korvo::test::u32;
using korvo::test::operator+;

// ep_korvo_recv's packet as bytes (and the packet released).
Bytes take(char *data, int32_t n) {
    Bytes bytes(data, data + (n > 0 ? n : 0));
    mg_free(data);
    return bytes;
}

KORVO_CHILD_BODY(documentedPackets) {
    IomHandle *channel = ecp_get_ipc_handle();
    CHILD_CHECK(channel != nullptr && ep_session_id() == 7);
    uint8_t toc_bytes[] = {'a', 'b', 'c'};
    const OctetList toc{3, 3, toc_bytes};
    char *data = nullptr;
    int32_t n = ep_korvo_recv(&data, &toc);
    CHILD_CHECK(n == 3 && take(data, n) == (Bytes{1, 'x', 'y'}));
    n = ep_korvo_recv(&data, nullptr);  // an empty packet: a segment ends
    CHILD_CHECK(n == 0 && data == nullptr);
    n = ep_korvo_recv(&data, nullptr);  // the end of the stream
    CHILD_CHECK(n == 0 && data == nullptr);
    n = ep_korvo_recv(&data, nullptr);  // and from then on, without waiting
    CHILD_CHECK(n == 0 && data == nullptr);
    n = ep_korvo_recv(&data, &toc);  // the TOC of a new stream starts over
    CHILD_CHECK(n == 2 && take(data, n) == (Bytes{1, 'q'}));

    const GatewayStatus status{{0, 1, -1, 0x01020304, 0, 0, 5}};
    CHILD_CHECK(send_methstat(channel, GATEWAY_KIND_STATUS, &status) == 0);
    GatewayReply reply{};
    CHILD_CHECK(recv_struct(channel, GATEWAY_KIND_REPLY, &reply) == 0);
    CHILD_CHECK(reply.kind == 20 && reply.value == 16384);
    CHILD_CHECK(net_send_protected(channel, "hello", 5, GATEWAY_KIND_DATA, 9) == 0);
    CHILD_CHECK(recv_struct(channel, GATEWAY_KIND_REPLY, &reply) == 0);
    CHILD_CHECK(reply.kind == 11 && reply.value == -5);
    CHILD_CHECK(net_send_protected(channel, nullptr, 0, GATEWAY_KIND_END, 9) == 0);
    // Kinds and shapes that do not go up, or do not fit their kind.
    CHILD_CHECK(net_send_protected(channel, "x", 1, GATEWAY_KIND_END, 9) == -1);
    CHILD_CHECK(net_send_protected(channel, "x", 1, GATEWAY_KIND_REPLY, 9) == -1);
    CHILD_CHECK(net_send_protected(channel, nullptr, 4, GATEWAY_KIND_DATA, 9) == -1);
    CHILD_CHECK(send_methstat(channel, GATEWAY_KIND_DATA, &status) == -1);
    CHILD_CHECK(recv_struct(channel, GATEWAY_KIND_STATUS, &reply) == -1);
    CHILD_CHECK(reply.kind == 0 && reply.value == -1);
    return 0;
}

TEST(GatewayChannel, PacketsCarryTheDocumentedBytes) {
    MethodProcess method("documentedPackets");
    auto &gateway = method.gateway;
    EXPECT_EQ(gateway.receive(), (Bytes{30, 0, 1, 0, 0, 0, 0, 7, 0, 0, 0, 3, 'a', 'b', 'c'}));
    gateway.send(Bytes{31, 0, 1, 0, 0, 0, 0, 7, 0, 0, 0, 3, 1, 'x', 'y'});
    gateway.send(packet(GATEWAY_KIND_STREAM, {}));
    gateway.send(packet(GATEWAY_KIND_END_OF_STREAM, {}));
    EXPECT_EQ(gateway.receive(), packet(30, text("abc")));
    gateway.send(packet(GATEWAY_KIND_STREAM, {1, 'q'}));
    EXPECT_EQ(gateway.receive(), packet(20, u32(0) + u32(1) + u32(0xffffffff) + u32(0x01020304) +
                                                u32(0) + u32(0) + u32(5)));
    gateway.send(packet(GATEWAY_KIND_REPLY, u32(20) + u32(16384)));
    EXPECT_EQ(gateway.receive(), packet(11, text("hello"), false, 9));
    gateway.send(packet(GATEWAY_KIND_REPLY, u32(11) + u32(uint32_t(-5))));
    EXPECT_EQ(gateway.receive(), packet(23, {}, false, 9));
    EXPECT_EQ(method.wait(), 0);
}

// The TOC and the data of the long messages: the same bytes in the test
// and in its method process.
Bytes long_toc() {
    Bytes toc(200000);
    for (std::size_t i = 0; i < toc.size(); ++i)
        toc[i] = static_cast<uint8_t>(i * 7);
    return toc;
}

Bytes long_data() {
    Bytes data(150000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i % 251);
    data[0] = 1;
    return data;
}

KORVO_CHILD_BODY(longMessages) {
    Bytes toc = long_toc();
    OctetList octets{200000, 200000, toc.data()};
    char *received = nullptr;
    const int32_t n = ep_korvo_recv(&received, &octets);
    CHILD_CHECK(n == 150000 && take(received, n) == long_data());
    return 0;
}

TEST(GatewayChannel, LongMessagesAreCutIntoPacketsAndJoined) {
    const Bytes toc = long_toc();
    const Bytes data = long_data();
    MethodProcess method("longMessages");
    auto &gateway = method.gateway;
    std::size_t at = 0;
    for (const std::size_t part : {65536u, 65536u, 65536u, 3392u}) {
        const bool more = at + part < toc.size();
        EXPECT_EQ(gateway.receive(),
                  packet(30, Bytes(toc.begin() + at, toc.begin() + at + part), more))
            << "packet at " << at;
        at += part;
    }
    gateway.send(packet(31, Bytes(data.begin(), data.begin() + 65536), true));
    gateway.send(packet(31, Bytes(data.begin() + 65536, data.begin() + 131072), true));
    gateway.send(packet(31, Bytes(data.begin() + 131072, data.end())));
    EXPECT_EQ(method.wait(), 0);
}

KORVO_CHILD_BODY(ownReaders) {
    IomHandle *channel = ecp_get_ipc_handle();
    char *command = nullptr;
    CHILD_CHECK(ep_korvo_poll(&command) == 0 && command == nullptr);  // nothing yet
    child.end(0).send();
    CHILD_CHECK(child.end(1).receive() == 'x');  // all four packets are there
    GatewayReply reply{};
    // The stream packet in front of the reply is kept for the stream.
    CHILD_CHECK(recv_struct(channel, GATEWAY_KIND_REPLY, &reply) == 0 && reply.value == 99);
    CHILD_CHECK(ep_korvo_poll(nullptr) == 1);  // looked at, not taken
    CHILD_CHECK(ep_korvo_poll(&command) == 1 && take(command, 1) == Bytes{2});
    // An empty packet polls as the NULL command; a packet polled is gone.
    CHILD_CHECK(ep_korvo_poll(&command) == 1 && take(command, 1) == Bytes{0});
    char *data = nullptr;
    const int32_t n = ep_korvo_recv(&data, nullptr);
    CHILD_CHECK(n == 2 && take(data, n) == (Bytes{1, 'z'}));
    return 0;
}

TEST(GatewayChannel, MessagesWaitForTheirOwnReaders) {
    korvo::test::Pipe polled, sent;
    MethodProcess method("ownReaders", ChildStart{.ends = {polled.writeEnd(), sent.readEnd()}});
    auto &gateway = method.gateway;
    ASSERT_NE(polled.receive(), -1);
    gateway.send(packet(31, {2}));
    gateway.send(packet(21, u32(20) + u32(99)));
    gateway.send(packet(31, {}));
    gateway.send(packet(31, {1, 'z'}));
    sent.send();
    EXPECT_EQ(method.wait(), 0);
}

struct LoggedLine {
    char text[128];
};

// Reads into a packet that is refused, and tells the test what was logged.
KORVO_CHILD_BODY(refusedPacket) {
    korvo::test::Shared<LoggedLine> logged(child.arg(0));
    korvo::rt::LogCapture capture;
    CHILD_CHECK(child.end(0).receive() == 'x');  // every packet is there
    char *data = nullptr;
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == -1 && data == nullptr);
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == -1);  // broken for good
    CHILD_CHECK(ecp_get_ipc_handle() == nullptr);
    const auto lines = capture.texts(1);
    CHILD_CHECK(lines.size() == 1);
    std::snprintf(logged->text, sizeof logged->text, "%s", lines[0].c_str());
    return 0;
}

// Each bad packet fails the read that meets it with -1 and breaks the
// channel: the good packet sent behind it is never read.
TEST(GatewayChannel, MalformedPacketsFailTheReadAndBreakTheChannel) {
    const Bytes good = packet(31, {1, 'a'});
    Bytes version = good, reserved = good, flags = good, length = good;
    version[2] = 2;
    reserved[3] = 1;
    flags[1] = 2;
    length[11] = 5;
    const struct Case {
        const char *name;
        std::vector<Bytes> packets;
        const char *fault;
    } cases[] = {
        {"shorter than a header", {{31, 0, 1, 0, 0}}, "a packet shorter than its header"},
        {"version 2", {version}, "a packet of an unknown version or with reserved bits set"},
        {"reserved byte", {reserved}, "a packet of an unknown version or with reserved bits set"},
        {"unknown flag", {flags}, "a packet of an unknown version or with reserved bits set"},
        {"unknown kind", {packet(99, {1})}, "a packet of an unknown kind"},
        {"length word too large", {length}, "a packet whose length word disagrees with its size"},
        {"payload over 64 KiB",
         {packet(31, Bytes(70000, 1))},
         "a packet or message over its maximum size"},
        {"reply of 7 bytes", {packet(21, Bytes(7))}, "a payload of the wrong size for its kind"},
        {"reply cut in two",
         {packet(21, Bytes(4), true)},
         "a payload of the wrong size for its kind"},
        {"end of stream with bytes", {packet(32, {1})}, "a payload of the wrong size for its kind"},
        {"another kind inside a cut message",
         {packet(31, {1}, true), packet(21, Bytes(8))},
         "a packet of another message inside a cut message"},
        {"another session inside a cut message",
         {packet(31, {1}, true), packet(31, {2}, false, 8)},
         "a packet of another message inside a cut message"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        korvo::test::Shared<LoggedLine> logged;
        korvo::test::Pipe sent;
        MethodProcess method("refusedPacket",
                             ChildStart{.args = {logged.name()}, .ends = {sent.readEnd()}});
        for (const Bytes &bytes : c.packets)
            method.gateway.send(bytes);
        method.gateway.send(good);
        sent.send();
        EXPECT_EQ(method.wait(), 0);
        EXPECT_EQ(std::string(logged->text),
                  std::string("korvo: gateway channel: refused a packet: ") + c.fault + "\n");
    }
}

KORVO_CHILD_BODY(closedMidSegment) {
    korvo::rt::LogCapture capture;
    char *data = nullptr;
    int32_t n = ep_korvo_recv(&data, nullptr);
    CHILD_CHECK(n == 2 && take(data, n) == (Bytes{1, 'a'}));
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == -1 && data == nullptr);
    CHILD_CHECK(capture.texts(1) == std::vector<std::string>{"korvo: gateway channel: the gateway "
                                                             "closed the channel in the middle "
                                                             "of a transfer\n"});
    return 0;
}

KORVO_CHILD_BODY(closedAfterTheEnd) {
    char *data = nullptr;
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == 0);
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == 0);
    GatewayReply reply{};
    CHILD_CHECK(recv_struct(ecp_get_ipc_handle(), GATEWAY_KIND_REPLY, &reply) == -1);
    return 0;
}

KORVO_CHILD_BODY(quietGateway) {
    korvo::rt::LogCapture capture;
    char *data = nullptr;
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == -1);
    CHILD_CHECK(capture.texts(1) == std::vector<std::string>{"korvo: gateway channel: no answer "
                                                             "from the gateway within "
                                                             "KORVO_GATEWAY_TIMEOUT\n"});
    return 0;
}

TEST(GatewayChannel, AGatewayThatGoesAwayOrQuietFailsTheWait) {
    {
        // Closed in the middle of a segment: the data so far, then a failure.
        MethodProcess method("closedMidSegment");
        method.gateway.send(packet(31, {1, 'a'}));
        method.gateway.close();
        EXPECT_EQ(method.wait(), 0);
    }
    {
        // Closed after the end of the stream: nothing was lost.
        MethodProcess method("closedAfterTheEnd");
        method.gateway.send(packet(32, {}));
        method.gateway.close();
        EXPECT_EQ(method.wait(), 0);
    }
    {
        // Quiet: the waits end after KORVO_GATEWAY_TIMEOUT, also in the middle
        // of a cut message.
        MethodProcess method("quietGateway",
                             ChildStart{.environment = {{"KORVO_GATEWAY_TIMEOUT", "1"}}});
        method.gateway.send(packet(31, {1, 2, 3}, true));
        EXPECT_EQ(method.wait(), 0);
        method.gateway.close();
    }
}

// More than the channel holds: each send that finds it full waits until
// the gateway reads, and nothing is lost or reordered.
constexpr int kFloodPackets = 96;
constexpr std::size_t kFloodBytes = 60000;

KORVO_CHILD_BODY(flood) {
    IomHandle *channel = ecp_get_ipc_handle();
    Bytes chunk(kFloodBytes);
    for (int i = 0; i < kFloodPackets; ++i) {
        chunk[0] = static_cast<uint8_t>(i);
        CHILD_CHECK(net_send_protected(channel, chunk.data(), static_cast<uint32_t>(chunk.size()),
                                       GATEWAY_KIND_DATA, 7) == 0);
    }
    // Closing lets the last packets go before the process ends (a write the
    // system still holds goes with the process on Windows).
    iom_close(channel);
    child.end(0).send();  // every send returned
    return 0;
}

TEST(GatewayChannel, SendsThatFindTheChannelFullWaitForTheGateway) {
    korvo::test::Pipe done;
    MethodProcess method("flood", ChildStart{.ends = {done.writeEnd()}});
    done.closeWrite();
    // The method cannot finish before the gateway reads: ~5.8 MB do not fit
    // into the channel.
    for (int i = 0; i < kFloodPackets; ++i) {
        const Bytes got = method.gateway.receive();
        ASSERT_EQ(got.size(), korvo::test::kHeaderBytes + kFloodBytes) << "packet " << i;
        EXPECT_EQ(got[korvo::test::kHeaderBytes], static_cast<uint8_t>(i));
    }
    EXPECT_EQ(done.receive(), 'x');
    EXPECT_EQ(method.wait(), 0);
}

// Meets a channel that is not there, and tells the test what was logged.
KORVO_CHILD_BODY(absentChannel) {
    korvo::test::Shared<LoggedLine> logged(child.arg(0));
    korvo::rt::LogCapture capture;
    char *data = nullptr;
    CHILD_CHECK(ecp_get_ipc_handle() == nullptr);
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == -1 && data == nullptr);
    CHILD_CHECK(ep_korvo_poll(&data) == 0 && data == nullptr);
    CHILD_CHECK(net_send_protected(nullptr, nullptr, 0, GATEWAY_KIND_END, 0) == -1);
    const auto lines = capture.texts(1);
    CHILD_CHECK(lines.size() == 1);  // logged once
    std::snprintf(logged->text, sizeof logged->text, "%s", lines[0].c_str());
    return 0;
}

TEST(GatewayChannel, WithoutAGatewayTheChannelIsAbsent) {
    kes_test::ScratchDir scratch;
    std::vector<korvo::test::UnusableGateway> cases = korvo::test::unusableGateways(scratch.path());
    cases.insert(cases.begin(),
                 {"", "korvo: gateway channel: absent (KORVO_GATEWAY is not set)\n"});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value.empty() ? "unset" : c.value);
        korvo::test::Shared<LoggedLine> logged;
        ChildStart start{.args = {logged.name()}};
        if (c.value.empty())
            start.environment["KORVO_GATEWAY"] = std::nullopt;
        else
            start.environment["KORVO_GATEWAY"] = c.value;
        korvo::test::Child method("absentChannel", start);
        EXPECT_EQ(method.wait(), 0);
        const std::string line = logged->text;
        EXPECT_EQ(line.substr(0, c.logged.size()), c.logged) << line;
    }
}

KORVO_CHILD_BODY(connectsByName) {
    IomHandle *channel = ecp_get_ipc_handle();
    CHILD_CHECK(channel != nullptr);
    CHILD_CHECK(net_send_protected(channel, "up", 2, GATEWAY_KIND_DATA, 3) == 0);
    iom_close(channel);
    char *data = nullptr;
    CHILD_CHECK(ecp_get_ipc_handle() == nullptr);
    CHILD_CHECK(ep_korvo_recv(&data, nullptr) == -1);
    iom_close(nullptr);
    return 0;
}

TEST(GatewayChannel, ConnectsByNameAndClosesForGood) {
    kes_test::ScratchDir scratch;
    korvo::test::RawListener listener(scratch.path());
    korvo::test::Child method("connectsByName",
                              ChildStart{.environment = {{"KORVO_GATEWAY", listener.name()}}});
    korvo::test::RawGateway gateway = listener.accept();
    EXPECT_EQ(gateway.receive(), packet(11, text("up"), false, 3));
    EXPECT_EQ(method.wait(), 0);
    EXPECT_TRUE(gateway.receive().empty());  // closed by the method
}

}  // namespace
