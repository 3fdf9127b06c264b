// The gateway channel's packet header and message reassembly.
#include "runtime/channel_packet.hpp"

#include <cstring>

#include "runtime/mg_memory.h"

namespace korvo::rt::channel {

namespace {

void put_be32(uint8_t *out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

uint32_t get_be32(const uint8_t *in) {
    return uint32_t(in[0]) << 24 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 8 | uint32_t(in[3]);
}

}  // namespace

const char *fault_text(Fault fault) {
    switch (fault) {
        case Fault::None:
            return "no fault";
        case Fault::Short:
            return "a packet shorter than its header";
        case Fault::Version:
            return "a packet of an unknown version or with reserved bits set";
        case Fault::Kind:
            return "a packet of an unknown kind";
        case Fault::Length:
            return "a packet whose length word disagrees with its size";
        case Fault::TooLong:
            return "a packet or message over its maximum size";
        case Fault::Shape:
            return "a payload of the wrong size for its kind";
        case Fault::Interleaved:
            return "a packet of another message inside a cut message";
        case Fault::NoMemory:
            return "no memory for a message";
    }
    return "an unknown fault";
}

void write_header(uint8_t *out, const Header &header) {
    out[0] = header.kind;
    out[1] = header.more ? kFlagMore : 0;
    out[2] = kVersion;
    out[3] = 0;
    put_be32(out + 4, static_cast<uint32_t>(header.session));
    put_be32(out + 8, header.length);
}

bool kind_is_known(uint8_t kind) {
    switch (kind) {
        case GATEWAY_KIND_DATA:
        case GATEWAY_KIND_STATUS:
        case GATEWAY_KIND_REPLY:
        case GATEWAY_KIND_END:
        case GATEWAY_KIND_TOC:
        case GATEWAY_KIND_STREAM:
        case GATEWAY_KIND_END_OF_STREAM:
            return true;
        default:
            return false;
    }
}

Fault read_header(const uint8_t *packet, std::size_t size, Header &header) {
    if (size < kHeaderSize)
        return Fault::Short;
    if (packet[2] != kVersion || packet[3] != 0 || (packet[1] & ~kFlagMore) != 0)
        return Fault::Version;
    if (!kind_is_known(packet[0]))
        return Fault::Kind;
    header.kind = packet[0];
    header.more = (packet[1] & kFlagMore) != 0;
    header.session = static_cast<int32_t>(get_be32(packet + 4));
    header.length = get_be32(packet + 8);
    if (header.length > kPacketPayloadMax)
        return Fault::TooLong;
    if (header.length != size - kHeaderSize)
        return Fault::Length;
    return Fault::None;
}

Fault check_message_shape(uint8_t kind, std::size_t length, bool cut) {
    std::size_t fixed;
    switch (kind) {
        case GATEWAY_KIND_DATA:
        case GATEWAY_KIND_TOC:
        case GATEWAY_KIND_STREAM:
            return length <= kMessageMax ? Fault::None : Fault::TooLong;
        case GATEWAY_KIND_STATUS:
            fixed = sizeof(GatewayStatus);
            break;
        case GATEWAY_KIND_REPLY:
            fixed = sizeof(GatewayReply);
            break;
        case GATEWAY_KIND_END:
        case GATEWAY_KIND_END_OF_STREAM:
            fixed = 0;
            break;
        default:
            return Fault::Kind;
    }
    // Fixed-size messages always travel in one packet.
    return length == fixed && !cut ? Fault::None : Fault::Shape;
}

Assembler::~Assembler() {
    mg_free(buffer_);
}

void Assembler::reset() {
    mg_free(buffer_);
    buffer_ = nullptr;
    length_ = capacity_ = 0;
    kind_ = 0;
    session_ = 0;
    started_ = complete_ = cut_ = false;
}

uint8_t *Assembler::room() {
    if (complete_)
        reset();
    if (capacity_ - length_ < kPacketPayloadMax) {
        // Double, so that a long message costs few copies; a first packet
        // gets exactly one packet's room.
        std::size_t wanted = capacity_ == 0 ? kPacketPayloadMax : capacity_ * 2;
        if (wanted < length_ + kPacketPayloadMax)
            wanted = length_ + kPacketPayloadMax;
        auto *grown = static_cast<uint8_t *>(mg_realloc(buffer_, wanted));
        if (grown == nullptr)
            return nullptr;
        buffer_ = grown;
        capacity_ = wanted;
    }
    return buffer_ + length_;
}

Fault Assembler::commit(const Header &header) {
    if (complete_)
        reset();
    if (header.length > kPacketPayloadMax || header.length > capacity_ - length_) {
        reset();
        return Fault::TooLong;
    }
    if (started_ && (header.kind != kind_ || header.session != session_)) {
        reset();
        return Fault::Interleaved;
    }
    if (!started_) {
        started_ = true;
        kind_ = header.kind;
        session_ = header.session;
    }
    length_ += header.length;
    cut_ = cut_ || header.more;
    const Fault shape = check_message_shape(kind_, length_, cut_);
    // A message may still grow while packets follow; its size is checked
    // against the maximum as it goes and against its kind once complete.
    if (shape == Fault::TooLong || (!header.more && shape != Fault::None) ||
        (header.more && shape == Fault::Shape)) {
        reset();
        return shape;
    }
    complete_ = !header.more;
    return Fault::None;
}

Fault Assembler::feed(const Header &header, const uint8_t *payload) {
    uint8_t *target = room();
    if (target == nullptr) {
        reset();
        return Fault::NoMemory;
    }
    if (header.length > kPacketPayloadMax) {
        reset();
        return Fault::TooLong;
    }
    if (header.length != 0)
        std::memcpy(target, payload, header.length);
    return commit(header);
}

uint8_t *Assembler::take() {
    uint8_t *payload = nullptr;
    if (complete_ && length_ != 0) {
        // Give back the room that was not used; a failed shrink keeps the
        // larger block, which is as good.
        payload = static_cast<uint8_t *>(mg_realloc(buffer_, length_));
        if (payload == nullptr)
            payload = buffer_;
        buffer_ = nullptr;
    }
    reset();
    return payload;
}

Arrival accept_packet(const uint8_t *head, std::size_t size, bool cut, Assembler &assembler,
                      Fault &fault) {
    Header header;
    fault = cut ? Fault::TooLong : read_header(head, size, header);
    if (fault == Fault::None)
        fault = assembler.commit(header);
    if (fault != Fault::None) {
        assembler.reset();
        return Arrival::Failed;
    }
    return Arrival::Packet;
}

}  // namespace korvo::rt::channel
