// The gateway's end of a method's channel on POSIX hosts: SOCK_SEQPACKET
// Unix-domain sockets (see raw_gateway.hpp).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tests/runtime/raw_gateway.hpp"

namespace korvo::test {

bool RawGateway::sendPacket(const Bytes &bytes) {
    return ::send(static_cast<int>(native_), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

Bytes RawGateway::receive(int milliseconds) {
    pollfd ready{static_cast<int>(native_), POLLIN, 0};
    if (::poll(&ready, 1, milliseconds) != 1)
        return {};
    Bytes bytes(1 << 20);
    const ssize_t n = ::recv(static_cast<int>(native_), bytes.data(), bytes.size(), 0);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

void RawGateway::close() {
    if (native_ >= 0)
        ::close(static_cast<int>(native_));
    native_ = -1;
}

ChannelPair makeChannelPair() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        std::abort();
    return ChannelPair{ends[0], PipeHandle{ends[1]}, "fd:" + std::to_string(ends[1])};
}

void closeMethodEnd(PipeHandle end) {
    ::close(static_cast<int>(end.value));
}

void setGatewayVariables(const std::string &named, const std::string &session) {
    ::setenv("KORVO_GATEWAY", named.c_str(), 1);
    ::setenv("KORVO_GATEWAY_SESSION", session.c_str(), 1);
}

std::vector<UnusableGateway> unusableGateways(const std::string &directory) {
    const std::string path = directory + "/gateway.sock";
    return {
        {"fd:x", "korvo: gateway channel: KORVO_GATEWAY names no descriptor: fd:x\n"},
        {"fd:0",
         "korvo: gateway channel: KORVO_GATEWAY is not a SOCK_SEQPACKET Unix-domain "
         "socket: fd:0\n"},
        {path, "korvo: gateway channel: cannot connect: " + path + ": No such file or directory\n"},
    };
}

RawListener::RawListener(const std::string &directory) : name_(directory + "/gateway.sock") {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name_.size() >= sizeof address.sun_path)
        return;
    std::strcpy(address.sun_path, name_.c_str());
    const int server = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (server < 0 || ::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(server, 1) != 0) {
        if (server >= 0)
            ::close(server);
        return;
    }
    native_ = server;
}

RawListener::~RawListener() {
    if (native_ >= 0) {
        ::close(static_cast<int>(native_));
        ::unlink(name_.c_str());
    }
}

RawGateway RawListener::accept() {
    pollfd ready{static_cast<int>(native_), POLLIN, 0};
    if (native_ < 0 || ::poll(&ready, 1, kWaitMilliseconds) != 1)
        return RawGateway();
    return RawGateway(::accept4(static_cast<int>(native_), nullptr, nullptr, SOCK_CLOEXEC));
}

}  // namespace korvo::test
