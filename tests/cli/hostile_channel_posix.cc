// The scripted gateway's channel on POSIX hosts: a SOCK_SEQPACKET pair,
// both ends close-on-exec (the child gets its end handed over by number),
// sends bounded by a send timeout, receives by poll.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <stdexcept>

#include "hostile_channel.hpp"

namespace cli_test {

namespace {
constexpr std::size_t kPacketMax = 12 + 65536;
}

HostileChannel::HostileChannel() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        throw std::runtime_error("socketpair");
    ours_ = ends[0];
    theirs_ = ends[1];
    timeval bound{30, 0};
    ::setsockopt(ends[0], SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    program_name_ = "fd:" + std::to_string(ends[1]);
}

HostileChannel::~HostileChannel() {
    close();
    closeProgramEnd();
}

void HostileChannel::closeProgramEnd() {
    if (theirs_ >= 0)
        ::close(static_cast<int>(theirs_));
    theirs_ = -1;
}

std::optional<std::vector<std::uint8_t>> HostileChannel::receive(int milliseconds) {
    if (ours_ < 0)
        return std::nullopt;
    pollfd ready{static_cast<int>(ours_), POLLIN, 0};
    if (::poll(&ready, 1, milliseconds) != 1)
        return std::nullopt;
    std::vector<std::uint8_t> packet(kPacketMax);
    const ssize_t n = ::recv(static_cast<int>(ours_), packet.data(), packet.size(), 0);
    if (n <= 0)
        return std::nullopt;
    packet.resize(static_cast<std::size_t>(n));
    return packet;
}

bool HostileChannel::send(const std::string &packet) {
    return ours_ >= 0 && ::send(static_cast<int>(ours_), packet.data(), packet.size(),
                                MSG_NOSIGNAL) == static_cast<ssize_t>(packet.size());
}

void HostileChannel::close() {
    if (ours_ >= 0)
        ::close(static_cast<int>(ours_));
    ours_ = -1;
}

}  // namespace cli_test
