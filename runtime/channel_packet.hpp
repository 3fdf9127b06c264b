// The gateway channel's packets (docs/gateway-channel.md): a 12-byte header
// of our own in front of every payload, and the reassembly of messages that
// were cut into several packets. Pure functions over bytes: the channel, the
// gateway peer and the fuzz target share them.
//
//   0  kind      1 byte   (kChannelKind...)
//   1  flags     1 byte   bit 0: more packets of this message follow
//   2  version   1 byte   1
//   3  reserved  1 byte   0
//   4  session   4 bytes  big-endian
//   8  length    4 bytes  big-endian: the payload's length, at most kPacketPayloadMax
//
// Nothing here allocates except the assembler's message buffer, which grows
// only by what has arrived and never beyond kMessageMax. Objects are used by
// one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/gateway.h"

namespace korvo::rt::channel {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr uint8_t kVersion = 1;
inline constexpr uint8_t kFlagMore = 0x01;
// The largest payload of one packet, and of one reassembled message.
inline constexpr std::size_t kPacketPayloadMax = 65536;
inline constexpr std::size_t kMessageMax = GATEWAY_MESSAGE_MAX;

struct Header {
    uint8_t kind = 0;
    bool more = false;
    int32_t session = 0;
    uint32_t length = 0;
};

// Why a packet or a message was refused.
enum class Fault {
    None,
    Short,        // fewer bytes than a header
    Version,      // a version other than 1, or a reserved byte or flag set
    Kind,         // a kind the channel does not know
    Length,       // the length word disagrees with the bytes that arrived
    TooLong,      // a payload or a message over its maximum
    Shape,        // a payload of the wrong size for its kind, or a kind that cannot be cut
    Interleaved,  // a packet of another kind or session in the middle of a message
    NoMemory,     // the message buffer could not grow
};

// A short English phrase for a fault, for log lines.
const char *fault_text(Fault fault);

// Writes the header of a packet into `out` (kHeaderSize bytes).
void write_header(uint8_t *out, const Header &header);

// Reads the header of the `size` bytes of one received packet and checks it
// against them: known kind, version, flags, a length word equal to the
// bytes behind the header, at most kPacketPayloadMax.
Fault read_header(const uint8_t *packet, std::size_t size, Header &header);

// Whether a message of `kind` may have `length` payload bytes (replies 8,
// method status 28, ends 0) and may be cut into several packets.
bool kind_is_known(uint8_t kind);
Fault check_message_shape(uint8_t kind, std::size_t length, bool cut);

// Joins the packets of one message in one growing buffer, into which the
// channel receives each packet's payload directly (no copy):
//
//   uint8_t *room = assembler.room();           // kPacketPayloadMax bytes
//   ... receive the header and up to kPacketPayloadMax bytes into room ...
//   Fault fault = assembler.commit(header);     // header.length bytes arrived
//   if (fault == Fault::None && assembler.complete()) use(assembler.take());
//
// feed() does the same with a payload the caller holds (a copy). A message
// is complete at its packet without the "more" flag. A fault leaves the
// assembler empty.
class Assembler {
  public:
    Assembler() = default;
    ~Assembler();
    Assembler(const Assembler &) = delete;
    Assembler &operator=(const Assembler &) = delete;

    // Room for the next packet's payload: kPacketPayloadMax bytes behind the
    // message so far (commit refuses a message that grows over kMessageMax);
    // nullptr when memory is exhausted.
    uint8_t *room();
    // Accounts the packet whose payload was received into room().
    Fault commit(const Header &header);
    // room(), a copy of the payload, commit().
    Fault feed(const Header &header, const uint8_t *payload);

    bool complete() const { return complete_; }
    bool in_progress() const { return started_ && !complete_; }
    uint8_t kind() const { return kind_; }
    int32_t session() const { return session_; }
    std::size_t length() const { return length_; }
    // The complete message's payload, shrunk to its length: an mg block the
    // caller frees, or nullptr for an empty payload. The assembler starts
    // afresh.
    uint8_t *take();
    // Drops a message in progress.
    void reset();

  private:
    uint8_t *buffer_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
    uint8_t kind_ = 0;
    int32_t session_ = 0;
    bool started_ = false;
    bool complete_ = false;
    bool cut_ = false;
};

// What one receive from the channel's end did.
enum class Arrival {
    Packet,   // a sound packet went into the assembler (the message may be complete)
    Nothing,  // no packet is waiting
    Closed,   // the other end closed the channel (or reset it)
    Failed,   // a refused packet (`fault` says why; the assembler is empty)
              // or a system error (`fault` None; the host says which)
};

// Checks one packet that the host received: `size` bytes in all, the
// header in `head` and the payload already in the assembler's room; `cut`
// when the host had to cut a packet longer than the room (refused whole).
// Packet when it went into the assembler, Failed with `fault` otherwise
// (the assembler is then empty).
Arrival accept_packet(const uint8_t *head, std::size_t size, bool cut, Assembler &assembler,
                      Fault &fault);

}  // namespace korvo::rt::channel
