// Test support for the gateway channel: a method process (a child that finds
// its end of the channel through KORVO_GATEWAY) and the gateway's end in
// the test, which writes and reads packets byte by byte, so that the tests
// pin the packet format as docs/gateway-channel.md gives it.
//
// The channel connects once per process, so everything that touches it runs
// in the child; the test process itself never does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/gateway.h"
#include "tests/runtime/encoded_bytes.hpp"
#include "tests/support/test_process.hpp"

namespace korvo::test {

// The bytes of a packet's header.
inline constexpr std::size_t kHeaderBytes = 12;

// A packet as the channel sends it: kind, flags, version 1, 0, the session
// and the payload's length (big-endian), the payload.
inline Bytes packet(uint8_t kind, const Bytes &payload, bool more = false, uint32_t session = 7) {
    return Bytes{kind, uint8_t(more ? 1 : 0), 1, 0} + u32(session) +
           u32(static_cast<uint32_t>(payload.size())) + payload;
}

// A stream packet carrying data: the DATA code (1), then `size` bytes of
// `fill`.
inline Bytes data_packet(std::size_t size, uint8_t fill = 'x') {
    return packet(GATEWAY_KIND_STREAM, Bytes{1} + Bytes(size, fill));
}

inline Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// The gateway's end of a method's channel, as the host keeps it (a
// descriptor of a SOCK_SEQPACKET socket, a handle of a message-mode pipe).
// The host calls live in raw_gateway_<host>.cc.
class RawGateway {
  public:
    explicit RawGateway(std::intptr_t native = -1) : native_(native) {}
    ~RawGateway() { close(); }
    RawGateway(RawGateway &&other) noexcept : native_(std::exchange(other.native_, -1)) {}
    RawGateway &operator=(RawGateway &&other) noexcept {
        if (this != &other)
            close(), native_ = std::exchange(other.native_, -1);
        return *this;
    }
    RawGateway(const RawGateway &) = delete;
    RawGateway &operator=(const RawGateway &) = delete;

    void send(const Bytes &bytes) { ASSERT_TRUE(sendPacket(bytes)) << "packet not sent whole"; }
    // Sends `bytes` as one packet; false when it did not go whole.
    bool sendPacket(const Bytes &bytes);
    // The next packet, whole; empty at the end of the channel or when none
    // came within the bounded wait.
    Bytes receive(int milliseconds = kWaitMilliseconds);
    void close();

  private:
    std::intptr_t native_;
};

// A new channel: the gateway's end, the method's end (for a child to
// inherit) and what KORVO_GATEWAY says in a process that has it.
struct ChannelPair {
    std::intptr_t gateway = -1;
    PipeHandle method;
    std::string named;
};
ChannelPair makeChannelPair();
void closeMethodEnd(PipeHandle end);
// Sets KORVO_GATEWAY and KORVO_GATEWAY_SESSION in this process.
void setGatewayVariables(const std::string &named, const std::string &session);

// KORVO_GATEWAY values that name no usable end on this host, each with the
// start of the line the channel logs for it (`directory` holds nothing).
struct UnusableGateway {
    std::string value;
    std::string logged;
};
std::vector<UnusableGateway> unusableGateways(const std::string &directory);

// A place a method connects to by name: a socket path in `directory`, or a
// pipe name; made at once, gone with the object.
class RawListener {
  public:
    explicit RawListener(const std::string &directory);
    ~RawListener();
    RawListener(const RawListener &) = delete;
    RawListener &operator=(const RawListener &) = delete;

    // What KORVO_GATEWAY says for a method that connects here.
    const std::string &name() const { return name_; }
    // The gateway's end of the first method that connects, within the
    // bounded wait; an end that is closed (-1) when none came.
    RawGateway accept();

  private:
    std::string name_;
    std::intptr_t native_ = -1;
};

// A method process: a child whose KORVO_GATEWAY names its end of a new
// channel (and KORVO_GATEWAY_SESSION is 7); its result is the child's exit
// status. The test plays the gateway on `gateway`.
class MethodProcess {
  public:
    // Runs the child body `name` (KORVO_CHILD_BODY) as `start` says; the
    // channel's end is handed over after start's own ends.
    explicit MethodProcess(const char *name, ChildStart start = {})
        : MethodProcess(makeChannelPair()) {
        start.ends.push_back(pair_.method);
        start.environment["KORVO_GATEWAY"] = pair_.named;
        start.environment["KORVO_GATEWAY_SESSION"] = "7";
        child_ = std::make_unique<Child>(name, std::move(start));
        closeMethodEnd(pair_.method);
    }
    // Runs `body` in a copy of this process (Child's fork form: only where
    // forkingHost() is true), for tests whose method uses what the test
    // holds in memory.
    explicit MethodProcess(const std::function<int()> &body) : MethodProcess(makeChannelPair()) {
        child_ = std::make_unique<Child>([&] {
            gateway.close();
            setGatewayVariables(pair_.named, "7");
            return body();
        });
        closeMethodEnd(pair_.method);
    }
    // The child's exit status (see Child::wait).
    int wait() { return child_->wait(); }

    RawGateway gateway;

  private:
    explicit MethodProcess(ChannelPair pair) : gateway(pair.gateway), pair_(std::move(pair)) {}

    ChannelPair pair_;
    std::unique_ptr<Child> child_;
};

}  // namespace korvo::test

// A check inside a method process: on failure the child says which and ends
// with status 1, which the test sees in MethodProcess::wait.
#define CHILD_CHECK(condition)                                                             \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "method check failed at %s:%d: %s\n", __FILE__, __LINE__, \
                         #condition);                                                      \
            return 1;                                                                      \
        }                                                                                  \
    } while (0)
