// Test support for the gateway channel: a method process (a child that finds
// its end of a socket pair through KORVO_GATEWAY) and the gateway's end in
// the test, which writes and reads packets byte by byte, so that the tests
// pin the packet format as docs/gateway-channel.md gives it.
//
// The channel connects once per process, so everything that touches it runs
// in the child; the test process itself never does.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "runtime/gateway.h"
#include "tests/runtime/encoded_bytes.hpp"
#include "tests/support/test_process.hpp"

namespace korvo::test {

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

// The gateway's end of a method's channel.
class RawGateway {
  public:
    explicit RawGateway(int fd) : fd_(fd) {}
    ~RawGateway() { close(); }
    RawGateway(const RawGateway &) = delete;
    RawGateway &operator=(const RawGateway &) = delete;

    void send(const Bytes &bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // The next packet, whole; empty at the end of the channel or when none
    // came within the bounded wait.
    Bytes receive(int milliseconds = kWaitMilliseconds) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, milliseconds) != 1)
            return {};
        Bytes bytes(1 << 20);
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

// A method process: `body` runs in a child whose KORVO_GATEWAY names its end
// of a new SOCK_SEQPACKET pair (and KORVO_GATEWAY_SESSION is 7); its result
// is the child's exit status. The test plays the gateway on `gateway`.
class MethodProcess {
    int method_end_ = -1;  // first: the gateway's initialiser sets it

  public:
    explicit MethodProcess(const std::function<int()> &body) : gateway(open_pair()) {
        child_ = std::make_unique<Child>([&] {
            gateway.close();
            const std::string channel = "fd:" + std::to_string(method_end_);
            ::setenv("KORVO_GATEWAY", channel.c_str(), 1);
            ::setenv("KORVO_GATEWAY_SESSION", "7", 1);
            return body();
        });
        ::close(method_end_);
    }
    // The child's exit status (see Child::wait).
    int wait() { return child_->wait(); }

    RawGateway gateway;

  private:
    int open_pair() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            std::abort();
        method_end_ = ends[1];
        return ends[0];
    }

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
