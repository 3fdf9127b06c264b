// The test HTTP server's TCP calls on BSD sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/http/test_socket.hpp"

namespace korvo::test {

SocketHandle listen_on_loopback(uint16_t &port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return listener;
}

bool wait_for_connection(SocketHandle listener, int milliseconds) {
    pollfd waiting{static_cast<int>(listener), POLLIN, 0};
    return ::poll(&waiting, 1, milliseconds) > 0;
}

SocketHandle accept_connection(SocketHandle listener, int idle_seconds) {
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return kNoSocket;
    timeval idle{idle_seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);
    return fd;
}

int64_t send_some(SocketHandle socket, const char *data, size_t size) {
    for (;;) {
        const ssize_t sent = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR)
            return sent;
    }
}

int64_t receive_some(SocketHandle socket, char *buffer, size_t size) {
    return ::recv(static_cast<int>(socket), buffer, size, 0);
}

void shut_down(SocketHandle socket) {
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void close_socket(SocketHandle socket) {
    ::close(static_cast<int>(socket));
}

std::tm utc_time(std::time_t when) {
    std::tm parts{};
    ::gmtime_r(&when, &parts);
    return parts;
}

}  // namespace korvo::test
