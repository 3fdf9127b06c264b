// The gateway's end of a method's channel.
#include "tools/gateway/peer_link.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace korvo::gateway {

using korvo::rt::channel::Fault;
using korvo::rt::channel::Header;
using korvo::rt::channel::kHeaderSize;
using korvo::rt::channel::kPacketPayloadMax;

PeerLink::PeerLink(korvo::rt::gateway::GatewaySocketPtr socket, int32_t session)
    : socket_(std::move(socket)), session_(session) {}

std::vector<uint8_t> &PeerLink::add_packet(uint8_t kind, std::size_t length, bool more) {
    Header header;
    header.kind = kind;
    header.more = more;
    header.session = session_;
    header.length = static_cast<uint32_t>(length);
    std::vector<uint8_t> &packet = out_.emplace_back(kHeaderSize + length);
    korvo::rt::channel::write_header(packet.data(), header);
    return packet;
}

void PeerLink::queue(uint8_t kind, const uint8_t *payload, std::size_t length) {
    std::size_t sent = 0;
    do {
        const std::size_t part = std::min(length - sent, kPacketPayloadMax);
        std::vector<uint8_t> &packet = add_packet(kind, part, sent + part < length);
        if (part != 0)
            std::memcpy(packet.data() + kHeaderSize, payload + sent, part);
        sent += part;
    } while (sent < length);
}

PeerLink::Flow PeerLink::flush(std::string &why) {
    while (!out_.empty()) {
        const std::vector<uint8_t> &packet = out_.front();
        switch (korvo::rt::gateway::SendGatewayPacket(*socket_, packet.data(), kHeaderSize,
                                                      packet.data() + kHeaderSize,
                                                      packet.size() - kHeaderSize, &why)) {
            case korvo::rt::gateway::SocketSend::Sent:
                break;
            case korvo::rt::gateway::SocketSend::Full:
                return Flow::Blocked;
            case korvo::rt::gateway::SocketSend::Closed:
                return Flow::Closed;
            case korvo::rt::gateway::SocketSend::Failed:
                return Flow::Failed;
        }
        out_.pop_front();
    }
    return Flow::Done;
}

PeerLink::In PeerLink::receive(Message &message, std::string &why) {
    for (;;) {
        Fault fault;
        switch (korvo::rt::gateway::ReceiveGatewayPacket(*socket_, assembler_, fault)) {
            case korvo::rt::channel::Arrival::Packet:
                if (assembler_.complete()) {
                    message.kind = assembler_.kind();
                    message.length = assembler_.length();
                    message.payload.reset(assembler_.take());
                    return In::Message;
                }
                continue;
            case korvo::rt::channel::Arrival::Nothing:
                return In::Nothing;
            case korvo::rt::channel::Arrival::Closed:
                return In::Closed;
            case korvo::rt::channel::Arrival::Failed:
                why = fault != Fault::None ? korvo::rt::channel::fault_text(fault)
                                           : korvo::rt::gateway::LastGatewayErrorText();
                return In::Refused;
        }
    }
}

bool PeerLink::wait(bool input, bool output, int timeout_ms) {
    std::string why;
    return korvo::rt::gateway::WaitForGatewaySocket(*socket_, input, output, timeout_ms, &why) !=
           korvo::rt::gateway::SocketWait::TimedOut;
}

}  // namespace korvo::gateway
