// Fuzzes what a network stream does with the packets the channel accepted:
// command bytes, empty packets, data of any length and the end of the
// stream. The input is a series of records, each a kind byte (even: a
// stream packet, odd: the end of the stream, which ends the series), a
// 2-byte big-endian length and that many payload bytes; the harness sends
// them as sound packets on the gateway's end of a socket pair, ends them
// with one end of stream, and reads a stream over a TOC of three segments until the stream ends.
// Every read must hand out only bytes its segment has room for, in TOC order; an end of segment
// must come only after the segment's last byte, or the read raises; a refused stream answers -1
// from then on.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "properties/korvo_properties.h"
#include "properties/korvo_types.h"
#include "runtime/gateway.h"
#include "runtime/log.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"

namespace {

using korvo::fuzz::check;

struct Segment {
    int32_t size;
    int32_t offset;
};
constexpr Segment kSegments[] = {{300, 0}, {0, 0}, {70000, 69990}};

// The gateway's end of the channel, made before the first use of the
// channel (which connects once per process).
int gateway_end() {
    static const int fd = [] {
        int ends[2];
        check(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0);
        const int large = 8 << 20;
        ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &large, sizeof large);
        ::setsockopt(ends[1], SOL_SOCKET, SO_RCVBUF, &large, sizeof large);
        const std::string channel = "fd:" + std::to_string(ends[1]);
        ::setenv("KORVO_GATEWAY", channel.c_str(), 1);
        ::setenv("KORVO_GATEWAY_TIMEOUT", "5", 1);
        check(korvo_init() == 1);
        log_set_level(-1);
        return ends[0];
    }();
    return fd;
}

void send_packet(int fd, uint8_t kind, const uint8_t *payload, std::size_t length) {
    std::vector<uint8_t> bytes = {kind,
                                  0,
                                  1,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  uint8_t(length >> 24),
                                  uint8_t(length >> 16),
                                  uint8_t(length >> 8),
                                  uint8_t(length)};
    bytes.insert(bytes.end(), payload, payload + length);
    check(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(bytes.size()));
}

// Whatever the method sent up (its TOCs), read off so that the socket never fills.
void drain(int fd) {
    std::vector<uint8_t> buffer(1 << 17);
    while (::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
    }
}

struct TocList : PropertiesList {
    TocList() : PropertiesList{} {
        int i = 0;
        for (const Segment &s : kSegments) {
            Properties segment{};
            const std::string id = "s" + std::to_string(i++);
            properties_put_string_dup(&segment, "id", id.c_str());
            properties_put_string_dup(&segment, "version", "1");
            properties_put_long_dup(&segment, "size", s.size);
            properties_put_long_dup(&segment, "offset", s.offset);
            seq_add(this, &segment, sizeof segment);
        }
    }
    ~TocList() { properties_list_delete(this); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const int fd = gateway_end();
    drain(fd);
    std::size_t packets = 0;
    while (size >= 3 && packets < 64) {
        const uint8_t kind = data[0] % 2 == 0 ? GATEWAY_KIND_STREAM : GATEWAY_KIND_END_OF_STREAM;
        std::size_t length = std::size_t(data[1]) << 8 | data[2];
        data += 3, size -= 3;
        if (length > size)
            length = size;
        if (kind == GATEWAY_KIND_END_OF_STREAM)
            break;  // one end per stream: the one below
        send_packet(fd, kind, data, length);
        data += length, size -= length;
        ++packets;
    }
    send_packet(fd, GATEWAY_KIND_END_OF_STREAM, nullptr, 0);

    uint8_t keyBytes[] = {NET_STREAM_NETWORK, 0, 2, 'f', 0};
    StreamKey key{sizeof keyBytes, sizeof keyBytes, keyBytes};
    NetStream *stream = net_stream_open(&key);
    check(stream != nullptr);
    TocList toc;
    net_stream_save_modified_toc(stream, &toc);

    // The model: the segment the next bytes belong to and its room left.
    std::size_t current = 0;
    std::vector<int64_t> room;
    for (const Segment &s : kSegments)
        room.push_back(s.size - s.offset);
    const auto skip = [&] {
        while (current < room.size() && room[current] == 0 &&
               kSegments[current].size - kSegments[current].offset == 0)
            ++current;
    };
    skip();
    bool refused = false;
    for (std::size_t i = 0; i <= packets + 1; ++i) {
        char *bytes = nullptr;
        int32_t n = 0;
        try {
            n = net_stream_read(stream, &bytes);
        } catch (const korvo::rt::Exception &) {
            refused = true;
            break;
        }
        check(n != -1);  // the channel never fails on sound packets
        if (n > 0) {
            check(current < room.size() && n <= room[current]);
            room[current] -= n;
            net_stream_free_buffer(stream, bytes);
        } else {
            check(bytes == nullptr);
        }
        if (n == 0 && current < room.size()) {
            check(room[current] == 0);  // an early end raises instead
            ++current;
            while (current < room.size() && room[current] == 0)
                ++current;
        }
    }
    if (refused) {
        char *bytes = nullptr;
        check(net_stream_read(stream, &bytes) == -1 && bytes == nullptr);
    }
    net_stream_close(stream);
    return 0;
}
