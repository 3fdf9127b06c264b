// The test HTTP server's TCP calls on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <mutex>
#include <stdexcept>

#include "tests/http/test_socket.hpp"

namespace korvo::test {

namespace {

// Winsock is started once per process and left running until it exits.
void start_winsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
    });
}

SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

int piece_size(size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

}  // namespace

SocketHandle listen_on_loopback(uint16_t &port) {
    start_winsock();
    // Not inherited by the programs the tests start.
    const SOCKET listener =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (listener == INVALID_SOCKET)
        throw std::runtime_error("socket failed");
    // Nobody else may bind the same port while the server listens.
    BOOL exclusive = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char *>(&exclusive),
               sizeof exclusive);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        closesocket(listener);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return static_cast<SocketHandle>(listener);
}

bool wait_for_connection(SocketHandle listener, int milliseconds) {
    WSAPOLLFD waiting{native(listener), POLLRDNORM, 0};
    return WSAPoll(&waiting, 1, milliseconds) > 0;
}

SocketHandle accept_connection(SocketHandle listener, int idle_seconds) {
    const SOCKET connection = accept(native(listener), nullptr, nullptr);
    if (connection == INVALID_SOCKET)
        return kNoSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(connection), HANDLE_FLAG_INHERIT, 0);
    const DWORD idle = static_cast<DWORD>(idle_seconds) * 1000;
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&idle),
               sizeof idle);
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&idle),
               sizeof idle);
    return static_cast<SocketHandle>(connection);
}

int64_t send_some(SocketHandle socket, const char *data, size_t size) {
    const int sent = send(native(socket), data, piece_size(size), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int64_t receive_some(SocketHandle socket, char *buffer, size_t size) {
    const int got = recv(native(socket), buffer, piece_size(size), 0);
    return got == SOCKET_ERROR ? -1 : got;
}

void shut_down(SocketHandle socket) {
    shutdown(native(socket), SD_BOTH);
}

void close_socket(SocketHandle socket) {
    closesocket(native(socket));
}

std::tm utc_time(std::time_t when) {
    std::tm parts{};
    gmtime_s(&parts, &when);
    return parts;
}

}  // namespace korvo::test
