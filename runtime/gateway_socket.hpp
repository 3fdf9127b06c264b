// The host's side of the gateway channel: connecting the end that
// KORVO_GATEWAY names, waiting until it is ready, sending and receiving one
// packet without blocking, and closing it. On POSIX hosts the end is a
// SOCK_SEQPACKET Unix-domain socket, on Windows a message-mode named pipe;
// both keep packet boundaries. Nothing here logs or keeps state beyond the
// end itself: the channel (gateway_channel.cc) and the gateway peer decide
// what a failure means and what it says.
//
// A GatewaySocket is owned by the GatewaySocketPtr that connected or
// adopted it; closing it is destroying that. One thread at a time uses an
// end (the channel serialises its sends and its receives, which may run on
// two threads at once: a send and a receive may overlap).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/channel_packet.hpp"

namespace korvo::rt::gateway {

struct GatewaySocket;
struct GatewaySocketCloser {
    void operator()(GatewaySocket *socket) const noexcept;
};
using GatewaySocketPtr = std::unique_ptr<GatewaySocket, GatewaySocketCloser>;

// Why connecting failed: what the channel logs, and the detail after it.
struct ConnectFailure {
    const char *what = nullptr;
    std::string detail;
};

// The end that `named` gives. POSIX: "fd:<n>" for an inherited descriptor
// (checked to be a SOCK_SEQPACKET Unix-domain socket and marked close on
// exec), otherwise the path of a socket to connect to. Windows:
// "handle:<n>" for an inherited handle (checked to be a message-mode named
// pipe opened for overlapped I/O, and made not inheritable), otherwise the
// name of a pipe ("\\.\pipe\<name>", or <name> alone). Empty and *failure
// filled when there is none.
GatewaySocketPtr ConnectGatewaySocket(const char *named, ConnectFailure *failure);

// Takes over an end the caller made: a descriptor of a SOCK_SEQPACKET
// socket, or a HANDLE of a message-mode pipe opened for overlapped use.
GatewaySocketPtr AdoptGatewaySocket(std::intptr_t native);

enum class SocketWait { Ready, TimedOut, Failed };

// Waits until a packet can be received (`input`) or one can be sent
// (`output`), whichever comes first, at most `timeout_ms` (-1: without
// end). On Failed, *error holds the host's error text.
SocketWait WaitForGatewaySocket(GatewaySocket &socket, bool input, bool output, int timeout_ms,
                                std::string *error);

enum class SocketSend { Sent, Full, Closed, Failed };

// Sends the header and payload as one packet without blocking, retrying an
// interrupted send. Full when the end has no room for it now; Closed when
// the other end is gone; on Closed and Failed, *error holds the host's
// error text.
SocketSend SendGatewayPacket(GatewaySocket &socket, const uint8_t *head, std::size_t head_size,
                             const uint8_t *payload, std::size_t length, std::string *error);

// Receives one packet without waiting, its payload into the assembler's
// room, and checks it (channel::accept_packet). On Failed with no fault,
// LastGatewayErrorText says what the host refused.
channel::Arrival ReceiveGatewayPacket(GatewaySocket &socket, channel::Assembler &assembler,
                                      channel::Fault &fault);

// The host's text for the error of the last failed call on this thread.
std::string LastGatewayErrorText();

}  // namespace korvo::rt::gateway
