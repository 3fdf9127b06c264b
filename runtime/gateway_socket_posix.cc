// The gateway channel's end on POSIX hosts: a SOCK_SEQPACKET Unix-domain
// socket (see gateway_socket.hpp).
#include "runtime/gateway_socket.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace korvo::rt::gateway {

using channel::Arrival;
using channel::Fault;
using channel::kHeaderSize;
using channel::kPacketPayloadMax;

struct GatewaySocket {
    explicit GatewaySocket(int descriptor) : fd(descriptor) {}
    ~GatewaySocket() { ::close(fd); }
    GatewaySocket(const GatewaySocket &) = delete;
    GatewaySocket &operator=(const GatewaySocket &) = delete;

    const int fd;
};

void GatewaySocketCloser::operator()(GatewaySocket *socket) const noexcept {
    std::unique_ptr<GatewaySocket> closing(socket);
}

GatewaySocketPtr AdoptGatewaySocket(std::intptr_t native) {
    return GatewaySocketPtr(std::make_unique<GatewaySocket>(static_cast<int>(native)).release());
}

GatewaySocketPtr ConnectGatewaySocket(const char *named, ConnectFailure *failure) {
    if (std::strncmp(named, "fd:", 3) == 0) {
        char *end = nullptr;
        errno = 0;
        const long number = std::strtol(named + 3, &end, 10);
        if (errno != 0 || end == named + 3 || *end != '\0' || number < 0 || number > INT_MAX) {
            *failure = ConnectFailure{"KORVO_GATEWAY names no descriptor", named};
            return nullptr;
        }
        const int fd = static_cast<int>(number);
        int type = 0, domain = 0;
        socklen_t size = sizeof type;
        socklen_t domain_size = sizeof domain;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 ||
            ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &domain_size) != 0 ||
            type != SOCK_SEQPACKET || domain != AF_UNIX) {
            *failure =
                ConnectFailure{"KORVO_GATEWAY is not a SOCK_SEQPACKET Unix-domain socket", named};
            return nullptr;
        }
        // Programs the method starts do not inherit its channel.
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        return AdoptGatewaySocket(fd);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(named) >= sizeof address.sun_path) {
        *failure = ConnectFailure{"the socket path of KORVO_GATEWAY is too long", named};
        return nullptr;
    }
    std::strcpy(address.sun_path, named);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *failure =
            ConnectFailure{"cannot connect", std::string(named) + ": " + std::strerror(errno)};
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    return AdoptGatewaySocket(fd);
}

SocketWait WaitForGatewaySocket(GatewaySocket &socket, bool input, bool output, int timeout_ms,
                                std::string *error) {
    pollfd ready{socket.fd, static_cast<short>((input ? POLLIN : 0) | (output ? POLLOUT : 0)), 0};
    for (;;) {
        const int n = ::poll(&ready, 1, timeout_ms);
        if (n > 0)
            return SocketWait::Ready;
        if (n == 0)
            return SocketWait::TimedOut;
        if (errno != EINTR) {
            *error = std::strerror(errno);
            return SocketWait::Failed;
        }
    }
}

SocketSend SendGatewayPacket(GatewaySocket &socket, const uint8_t *head, std::size_t head_size,
                             const uint8_t *payload, std::size_t length, std::string *error) {
    iovec pieces[2] = {{const_cast<uint8_t *>(head), head_size},
                       {const_cast<uint8_t *>(payload), length}};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = length != 0 ? 2 : 1;
    for (;;) {
        const ssize_t n = ::sendmsg(socket.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0)
            return SocketSend::Sent;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return SocketSend::Full;
        *error = std::strerror(errno);
        return errno == EPIPE || errno == ECONNRESET ? SocketSend::Closed : SocketSend::Failed;
    }
}

Arrival ReceiveGatewayPacket(GatewaySocket &socket, channel::Assembler &assembler, Fault &fault) {
    fault = Fault::None;
    uint8_t *room = assembler.room();
    if (room == nullptr) {
        fault = Fault::NoMemory;
        return Arrival::Failed;
    }
    uint8_t head[kHeaderSize];
    iovec pieces[2] = {{head, kHeaderSize}, {room, kPacketPayloadMax}};
    msghdr received{};
    received.msg_iov = pieces;
    received.msg_iovlen = 2;
    ssize_t n;
    do {
        n = ::recvmsg(socket.fd, &received, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Arrival::Nothing;
        return errno == ECONNRESET ? Arrival::Closed : Arrival::Failed;
    }
    if (n == 0)
        return Arrival::Closed;
    // A packet longer than the room was cut by the system: refused whole.
    return channel::accept_packet(head, static_cast<std::size_t>(n),
                                  (received.msg_flags & MSG_TRUNC) != 0, assembler, fault);
}

std::string LastGatewayErrorText() {
    return std::strerror(errno);
}

}  // namespace korvo::rt::gateway
