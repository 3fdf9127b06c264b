// Reading a net stream: the TOC hand-off on the first network read, the
// sources by type, the command byte of network packets, and the accounting
// that keeps the progress record's checkpoint.
#include <memory>
#include <string>

#include "properties/korvo_types.h"
#include "properties/property_files.h"
#include "records/korvo_command.h"
#include "runtime/gateway.h"
#include "runtime/generic.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/file_stream.h"
#include "stream/net_stream.h"
#include "stream/segment_cursor.hpp"
#include "stream/stream_internal.hpp"
#include "stream/stream_progress.hpp"

namespace korvo::stream {

namespace {

struct OctetsFree {
    void operator()(OctetList *octets) const noexcept { free_toc_octets(octets); }
};
using TocOctets = std::unique_ptr<OctetList, OctetsFree>;

// The stream's TOC encoded for the gateway, released when the read returns.
TocOctets encode_toc(const PropertiesList *toc) {
    TocOctets octets(static_cast<OctetList *>(mg_calloc(1, sizeof(OctetList))));
    if (octets == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "TOC hand-off");
    void *data = nullptr;
    uint32_t length = 0;
    properties_encode(TC_Vem_Korvo2__sequence_Properties_PropertiesList, toc, &data, &length);
    octets->buffer = static_cast<uint8_t *>(data);
    octets->length = length;
    octets->maximum = length;
    return octets;
}

bool polls_commands(int32_t type) {
    return type == NET_STREAM_CD || type == NET_STREAM_REMOTE || type == NET_STREAM_REMOTE_CD ||
           type == NET_STREAM_CDS;
}

// The texts of the packets a network stream refuses. They name the segment
// and count its bytes from its start.
constexpr const char *kBeyondSegment =
    "The gateway sent %1$s bytes for segment %2$s, which has %3$s bytes left.\n";
constexpr const char *kBeyondTotal =
    "The gateway sent %1$s bytes after the last segment of the TOC.\n";
constexpr const char *kEndedEarly = "The gateway ended segment %1$s at byte %2$s of %3$s.\n";

// A packet that does not fit the TOC: the stream is broken (later reads
// answer -1), the record notes the error, and the read raises.
[[noreturn]] void refuse(NetStream *stream, SegmentCursor &cursor, StreamFault fault,
                         int64_t bytes) {
    block_of(stream)->broken = true;
    if (stream->keepsProgress != 0)
        account_failure(stream);
    const std::size_t index = cursor.current();
    const std::string segment = segment_name(stream->toc, index);
    if (fault == StreamFault::BeyondTotal)
        vaThrow(nullptr, -1, kBeyondTotal, std::to_string(bytes).c_str());
    // Otherwise there is a current segment.
    const SegmentSpan &span = cursor.span(index);
    if (fault == StreamFault::BeyondSegment)
        vaThrow(nullptr, -1, kBeyondSegment, std::to_string(bytes).c_str(), segment.c_str(),
                std::to_string(span.remaining()).c_str());
    vaThrow(nullptr, -1, kEndedEarly, segment.c_str(),
            std::to_string(span.start + span.delivered).c_str(), std::to_string(span.size).c_str());
}

// An end of segment (an empty packet, a NULL command, a DATA packet without
// data, or the end of the stream): accepted only after the segment's last
// byte.
int32_t end_of_segment(NetStream *stream) {
    SegmentCursor *cursor = cursor_of(stream);
    if (cursor != nullptr) {
        const StreamFault fault = cursor->end_segment();
        if (fault != StreamFault::None)
            refuse(stream, *cursor, fault, 0);
    }
    return 0;
}

// A network packet: the code byte says whether it carries data. Data is
// handed out only when the current segment has room for all of it.
int32_t network_result(NetStream *stream, char **data, int32_t n) {
    korvo::rt::MgPtr<uint8_t> packet(reinterpret_cast<uint8_t *>(*data));
    *data = nullptr;
    if (n == 0)
        return end_of_segment(stream);
    const uint8_t code = packet.get()[0];
    if (code == KORVO_COMMAND_DATA && n > 1) {
        const int32_t bytes = n - 1;
        SegmentCursor *cursor = cursor_of(stream);
        if (cursor != nullptr) {
            const StreamFault fault = cursor->accept(bytes);
            if (fault != StreamFault::None)
                refuse(stream, *cursor, fault, bytes);
        }
        block_of(stream)->handedOut = bytes;
        *data = reinterpret_cast<char *>(packet.release()) + 1;
        return bytes;
    }
    // Anything else ends the read here; the packet is not handed out, so
    // that a negative result never leaves the caller a buffer to free, and
    // bytes behind a command's code are never counted as data.
    packet.reset();
    if (code == KORVO_COMMAND_DATA || code == KORVO_COMMAND_NULL)
        return end_of_segment(stream);
    if (code == KORVO_COMMAND_PAUSE && stream->keepsProgress != 0) {
        save_flag(stream, "paused", true, SaveAfter::Closing);
    }
    return -static_cast<int32_t>(code);
}

int32_t read_stream(NetStream *stream, char **data) {
    // A type-1 stream is the caller's own structure, not a block of ours.
    if (stream->type == NET_STREAM_IOM)
        return 0;
    StreamBlock *block = block_of(stream);
    TocOctets octets;
    if (stream->started == 0 && stream->toc != nullptr) {
        if (stream->type == NET_STREAM_NETWORK)
            octets = encode_toc(stream->toc);
        if (stream->keepsProgress != 0) {
            take_totals(stream, stream->toc);
            put_text(stream, "t_len", length_text(stream->totalLength).c_str());
        }
    }
    // The caller came back for more: what the last read handed out is its
    // own now, and may be checkpointed.
    const int32_t handed = block->handedOut;
    block->handedOut = 0;
    if (stream->keepsProgress != 0)
        account_bytes(stream, handed);
    if (block->broken)
        return -1;

    int32_t n = 0;
    switch (stream->type) {
        case NET_STREAM_NETWORK:
            n = ep_korvo_recv(data, octets.get());
            stream->started = 1;
            if (n < 0) {
                if (stream->keepsProgress != 0)
                    account_failure(stream);
                mg_free(*data);
                *data = nullptr;
                return n;
            }
            return network_result(stream, data, n);
        case NET_STREAM_CD:
        case NET_STREAM_REMOTE:
        case NET_STREAM_REMOTE_CD:
        case NET_STREAM_CDS:
        case NET_STREAM_FILES:
        case NET_STREAM_DIRECTORY:
        case NET_STREAM_DEPOT:
            if (polls_commands(stream->type)) {
                n = is_stream_stopped(data);
                if (n != 0) {
                    mg_free(*data);
                    *data = nullptr;
                    return n;
                }
                // Another packet that was waiting is of no use to a file stream.
                mg_free(*data);
                *data = nullptr;
            }
            stream->started = 1;
            n = file_stream_read(stream, data);
            break;
        default:
            break;
    }

    if (n < 0) {
        // A stop from a CDS download: its buffer holds nothing.
        if (stream->keepsProgress != 0)
            account_failure(stream);
        mg_free(*data);
        *data = nullptr;
        return n;
    }
    if (n == 0) {
        *data = nullptr;
        return 0;
    }
    block->handedOut = n;
    return n;
}

}  // namespace

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

int32_t net_stream_read(NetStream *stream, char **data) {
    if (data == nullptr)
        return 0;
    *data = nullptr;
    if (stream == nullptr)
        return 0;
    korvo::rt::Frame frame;
    return read_stream(stream, data);
}

void net_stream_set_durable(NetStream *stream, int32_t durable) {
    if (stream == nullptr || stream->type == NET_STREAM_IOM)
        return;
    block_of(stream)->durable = durable != 0;
}

void net_stream_set_status(NetStream *stream, const char *text) {
    if (stream == nullptr || stream->keepsProgress == 0 || stream->progress == nullptr ||
        text == nullptr)
        return;
    put_flag(stream, "err", true);
    put_text(stream, "err_msg", text);
    save_progress(stream, SaveAfter::Status);
}

void net_stream_update_mstat(NetStream *stream, const char *key, const char *value) {
    if (stream == nullptr || stream->keepsProgress == 0 || stream->progress == nullptr ||
        key == nullptr || value == nullptr)
        return;
    put_text(stream, key, value);
    save_progress(stream, SaveAfter::Status);
    LogQ("korvo: update mstat key=%s, value=%s\n", key, value);
}

int32_t is_stream_stopped(char **command) {
    if (ep_korvo_poll(command) == 0 || command == nullptr || *command == nullptr)
        return 0;
    switch (static_cast<uint8_t>((*command)[0])) {
        case KORVO_COMMAND_CANCEL:
            LogQ("from_file distribution has been canceled");
            return -KORVO_COMMAND_CANCEL;
        case KORVO_COMMAND_PAUSE:
            LogQ("from_file distribution has been paused");
            return -KORVO_COMMAND_PAUSE;
        default:
            return 0;
    }
}

void free_toc_octets(OctetList *octets) {
    if (octets == nullptr)
        return;
    vem_free_generic(octets, TC_Vem_Types_OctetList);
    mg_free(octets);
}
}
