// Fuzzes the gateway channel's packets: the input is a series of
// datagrams, each a 2-byte big-endian size and that many bytes. Every
// datagram goes through the header check and the message assembler, as
// the channel receives it. A packet is accepted only when its header is
// sound; a message completes only with its pieces joined in order and the
// shape its kind demands; a fault leaves nothing in progress.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "runtime/channel_packet.hpp"
#include "runtime/mg_memory.h"

namespace {

using korvo::fuzz::check;
using namespace korvo::rt::channel;

uint32_t be32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Assembler assembler;
    std::vector<uint8_t> expected;  // the payloads of the message in progress
    while (size >= 2) {
        std::size_t length = std::size_t(data[0]) << 8 | data[1];
        data += 2, size -= 2;
        if (length > size)
            length = size;
        const uint8_t *datagram = data;
        data += length, size -= length;

        Header header;
        const Fault read = read_header(datagram, length, header);
        if (read != Fault::None) {
            check(read != Fault::Length ||
                  (length >= kHeaderSize && be32(datagram + 8) != length - kHeaderSize));
            continue;
        }
        check(length == kHeaderSize + header.length && kind_is_known(header.kind));
        check(datagram[2] == kVersion && datagram[3] == 0 && (datagram[1] & ~kFlagMore) == 0);
        const Fault fed = assembler.feed(header, datagram + kHeaderSize);
        if (fed != Fault::None) {
            check(!assembler.in_progress() && !assembler.complete());
            expected.clear();
            continue;
        }
        expected.insert(expected.end(), datagram + kHeaderSize, datagram + length);
        if (!assembler.complete()) {
            check(header.more && assembler.in_progress());
            continue;
        }
        check(!header.more && assembler.length() == expected.size());
        check(check_message_shape(assembler.kind(), assembler.length(), false) == Fault::None ||
              check_message_shape(assembler.kind(), assembler.length(), true) == Fault::None);
        uint8_t *payload = assembler.take();
        check((payload == nullptr) == expected.empty());
        check(expected.empty() || std::memcmp(payload, expected.data(), expected.size()) == 0);
        mg_free(payload);
        expected.clear();
    }
    return 0;
}
