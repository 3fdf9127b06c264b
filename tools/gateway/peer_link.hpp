// The gateway's end of one method's channel: messages queued and sent
// without blocking (cut into packets of at most 64 KiB), and messages
// received and checked packet by packet (docs/gateway-channel.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "runtime/channel_packet.hpp"
#include "runtime/gateway_socket.hpp"
#include "runtime/raise.hpp"

namespace korvo::gateway {

struct Message {
    uint8_t kind = 0;
    korvo::rt::MgPtr<uint8_t> payload;  // nullptr for an empty payload
    std::size_t length = 0;
};

class PeerLink {
  public:
    // Takes over the gateway's end of the channel.
    PeerLink(korvo::rt::gateway::GatewaySocketPtr socket, int32_t session);
    PeerLink(const PeerLink &) = delete;
    PeerLink &operator=(const PeerLink &) = delete;

    int32_t session() const { return session_; }

    // Queues a message of `kind` with a copy of `length` bytes.
    void queue(uint8_t kind, const uint8_t *payload, std::size_t length);
    // Queues a stream packet whose payload is `code` and then `length` bytes
    // that `fill` writes into the space it is given.
    // Returns false (nothing queued) when `fill` does.
    template <typename Fill>
    bool queue_stream(uint8_t code, std::size_t length, Fill fill) {
        using korvo::rt::channel::kHeaderSize;
        if (1 + length <= korvo::rt::channel::kPacketPayloadMax) {
            std::vector<uint8_t> &packet = add_packet(GATEWAY_KIND_STREAM, 1 + length, false);
            packet[kHeaderSize] = code;
            if (length == 0 || fill(packet.data() + kHeaderSize + 1))
                return true;
            out_.pop_back();
            return false;
        }
        // A packet longer than one channel packet travels cut.
        std::vector<uint8_t> payload(1 + length);
        payload[0] = code;
        if (!fill(payload.data() + 1))
            return false;
        queue(GATEWAY_KIND_STREAM, payload.data(), payload.size());
        return true;
    }
    std::size_t queued() const { return out_.size(); }

    enum class Flow { Done, Blocked, Closed, Failed };
    // Sends queued packets until none is left or the socket would block;
    // Closed when the method's end is gone.
    Flow flush(std::string &why);

    enum class In { Message, Nothing, Closed, Refused };
    // One complete message, when one has arrived: Nothing when no packet is
    // waiting, Closed at the end of the channel, Refused (with the reason)
    // for a malformed packet.
    In receive(Message &message, std::string &why);

    // Waits until a packet arrives (`input`) or the channel takes more
    // (`output`), at most `timeout_ms` (-1: without end); false when the
    // time ran out.
    bool wait(bool input, bool output, int timeout_ms);

  private:
    std::vector<uint8_t> &add_packet(uint8_t kind, std::size_t length, bool more);

    korvo::rt::gateway::GatewaySocketPtr socket_;
    int32_t session_;
    std::deque<std::vector<uint8_t>> out_;
    korvo::rt::channel::Assembler assembler_;
};

}  // namespace korvo::gateway
