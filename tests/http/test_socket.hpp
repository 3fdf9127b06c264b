// The host's TCP calls the test HTTP server makes (test_socket_posix.cc on
// BSD sockets, test_socket_win32.cc on Winsock): a listener on 127.0.0.1
// only, connections with idle timeouts, and plain sends and receives. A
// SocketHandle is owned by whoever got it and closed with close_socket;
// any thread may use the functions, one thread a socket at a time (but
// shut_down may come from any thread to end a blocked call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace korvo::test {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// A listening socket on 127.0.0.1 at a port the system picks, which goes
// to `port`; throws std::runtime_error when there is none.
SocketHandle listen_on_loopback(uint16_t &port);

// Whether a connection waits on `listener` within `milliseconds`.
bool wait_for_connection(SocketHandle listener, int milliseconds);

// The next connection, whose sends and receives give up after
// `idle_seconds` without progress; kNoSocket when there is none.
SocketHandle accept_connection(SocketHandle listener, int idle_seconds);

// Sends up to `size` bytes: the count sent, -1 on a failure (a peer that
// went away is a failure, never a signal).
int64_t send_some(SocketHandle socket, const char *data, size_t size);

// Receives up to `size` bytes: the count, 0 at the end, -1 on a failure.
int64_t receive_some(SocketHandle socket, char *buffer, size_t size);

// Ends both directions of `socket`, waking a call blocked on it.
void shut_down(SocketHandle socket);

void close_socket(SocketHandle socket);

// `when` in UTC.
std::tm utc_time(std::time_t when);

}  // namespace korvo::test
