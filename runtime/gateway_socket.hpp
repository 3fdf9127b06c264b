// The host's side of the gateway channel: connecting the socket that
// KORVO_GATEWAY names, waiting until it is ready, sending one packet without
// blocking, and closing it. Nothing here logs or keeps state: the channel
// (gateway_channel.cc) decides what a failure means and what it says.
//
// A socket is a descriptor number owned by whoever connected it and closed
// with CloseGatewaySocket. Any thread may call these functions; the channel
// serialises the use of one socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo::rt::gateway {

// Why connecting failed: what the channel logs, and the detail after it.
struct ConnectFailure {
    const char *what = nullptr;
    std::string detail;
};

// The socket that `named` gives: "fd:<n>" for an inherited descriptor
// (checked to be a SOCK_SEQPACKET Unix-domain socket and marked close on
// exec), otherwise the path of a socket to connect to. -1 and *failure
// filled when there is none.
int ConnectGatewaySocket(const char *named, ConnectFailure *failure);

void CloseGatewaySocket(int socket);

enum class SocketWait { Ready, TimedOut, Failed };

// Waits (retrying interrupted waits) until the socket can be read
// (`output` false) or written, at most `timeout_ms` (-1: without end).
// On Failed, *error holds the host's error text.
SocketWait WaitForGatewaySocket(int socket, bool output, int timeout_ms, std::string *error);

enum class SocketSend { Sent, Full, Failed };

// Sends the header and payload as one packet without blocking, retrying an
// interrupted send. Full when the socket's buffer has no room; on Failed,
// *error holds the host's error text.
SocketSend SendGatewayPacket(int socket, const uint8_t *head, std::size_t head_size,
                             const uint8_t *payload, std::size_t length, std::string *error);

// The host's text for the error of the last failed call on this thread.
std::string LastGatewayErrorText();

}  // namespace korvo::rt::gateway
