// The peers of the property-list benchmarks (toc_peers.hpp).
#include "bench/toc_peers.hpp"

#include <msgpack.h>

#include <cstring>
#include <string>

#include "bench/toc_peer.pb.h"

namespace korvo::bench {

struct MsgpackToc::Buffer {
    msgpack_sbuffer buffer;
    Buffer() { msgpack_sbuffer_init(&buffer); }
    ~Buffer() { msgpack_sbuffer_destroy(&buffer); }
};

MsgpackToc::MsgpackToc(const PropertiesList &toc) : toc_(toc) {}

MsgpackToc::~MsgpackToc() = default;

size_t MsgpackToc::encode() {
    buffer_ = std::make_unique<Buffer>();
    msgpack_packer packer;
    msgpack_packer_init(&packer, &buffer_->buffer, msgpack_sbuffer_write);
    msgpack_pack_array(&packer, toc_.length);
    for (uint32_t s = 0; s < toc_.length; ++s) {
        const Properties &segment = toc_.buffer[s];
        msgpack_pack_map(&packer, segment.length);
        for (uint32_t p = 0; p < segment.length; ++p) {
            const Property &property = segment.buffer[p];
            const size_t keyLength = std::strlen(property.key);
            msgpack_pack_str(&packer, keyLength);
            msgpack_pack_str_body(&packer, property.key, keyLength);
            if (property.value.type == TC_string) {
                const char *text = *static_cast<char **>(property.value.value);
                const size_t length = std::strlen(text);
                msgpack_pack_str(&packer, length);
                msgpack_pack_str_body(&packer, text, length);
            } else if (property.value.type == TC_long) {
                msgpack_pack_int32(&packer, *static_cast<int32_t *>(property.value.value));
            } else {
                const auto *octets = static_cast<const OctetList *>(property.value.value);
                msgpack_pack_bin(&packer, octets->length);
                msgpack_pack_bin_body(&packer, octets->buffer, octets->length);
            }
        }
    }
    return buffer_->buffer.size;
}

std::vector<uint8_t> MsgpackToc::bytes() const {
    const auto *data = reinterpret_cast<const uint8_t *>(buffer_->buffer.data);
    return {data, data + buffer_->buffer.size};
}

size_t MsgpackToc::decodeAndFree(const std::vector<uint8_t> &bytes) {
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t offset = 0;
    msgpack_unpack_next(&result, reinterpret_cast<const char *>(bytes.data()), bytes.size(),
                        &offset);
    const size_t segments = result.data.via.array.size;
    msgpack_unpacked_destroy(&result);
    return segments;
}

struct ProtobufToc::Messages {
    peer::PropertiesList toc;
    std::string bytes;
};

ProtobufToc::ProtobufToc(const PropertiesList &toc) : messages_(std::make_unique<Messages>()) {
    for (uint32_t s = 0; s < toc.length; ++s) {
        const Properties &from = toc.buffer[s];
        peer::Properties *segment = messages_->toc.add_lists();
        for (uint32_t p = 0; p < from.length; ++p) {
            const Property &property = from.buffer[p];
            peer::Property *to = segment->add_properties();
            to->set_key(property.key);
            if (property.value.type == TC_string) {
                to->set_text(*static_cast<char **>(property.value.value));
            } else if (property.value.type == TC_long) {
                to->set_number(*static_cast<int32_t *>(property.value.value));
            } else {
                const auto *octets = static_cast<const OctetList *>(property.value.value);
                to->set_octets(octets->buffer, octets->length);
            }
        }
    }
}

ProtobufToc::~ProtobufToc() = default;

size_t ProtobufToc::encode() {
    messages_->bytes.clear();
    messages_->toc.SerializeToString(&messages_->bytes);
    return messages_->bytes.size();
}

std::vector<uint8_t> ProtobufToc::bytes() const {
    return {messages_->bytes.begin(), messages_->bytes.end()};
}

size_t ProtobufToc::decodeAndFree(const std::vector<uint8_t> &bytes) {
    google::protobuf::Arena arena;
    auto *toc = google::protobuf::Arena::CreateMessage<peer::PropertiesList>(&arena);
    toc->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
    return static_cast<size_t>(toc->lists_size());
}

}  // namespace korvo::bench
