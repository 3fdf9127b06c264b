// The gateway's end of a method's channel.
#include "tools/gateway/peer_link.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvo::gateway {

using korvo::rt::channel::Fault;
using korvo::rt::channel::Header;
using korvo::rt::channel::kHeaderSize;
using korvo::rt::channel::kPacketPayloadMax;

PeerLink::PeerLink(int fd, int32_t session) : fd_(fd), session_(session) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

PeerLink::~PeerLink() {
    ::close(fd_);
}

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
        const ssize_t n = ::send(fd_, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Flow::Blocked;
            if (errno == EPIPE || errno == ECONNRESET)
                return Flow::Closed;
            why = std::strerror(errno);
            return Flow::Failed;
        }
        out_.pop_front();
    }
    return Flow::Done;
}

PeerLink::In PeerLink::receive(Message &message, std::string &why) {
    for (;;) {
        Fault fault;
        switch (korvo::rt::channel::receive_packet(fd_, assembler_, fault)) {
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
                                           : std::strerror(errno);
                return In::Refused;
        }
    }
}

}  // namespace korvo::gateway
