// Writing through a net stream: the window the gateway grants, one chunk
// buffered and at most one in flight, the end of the transfer on every
// refusal; or, for a file-list stream, its output file.
#include <algorithm>
#include <cstring>
#include <memory>

#include "properties/helpers/file_helpers.h"
#include "runtime/gateway.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"
#include "stream/net_stream_write.h"
#include "stream/stream_internal.hpp"
#include "stream/write_internal.hpp"

namespace korvo::stream {

namespace {

// The largest message the channel carries (docs/gateway-channel.md): a
// larger grant is used as this many bytes, so that every chunk arrives.
constexpr int32_t kLargestChunk = GATEWAY_MESSAGE_MAX;

struct FileDelete {
    void operator()(FileRecord *file) const noexcept { file_delete(file); }
};

// Asks the gateway for a window: the granted chunk size, or its negative
// refusal (-1 when the channel fails).
int32_t ask_for_window() {
    IomHandle *channel = ecp_get_ipc_handle();
    const GatewayStatus status{};
    GatewayReply reply{0, -1};
    if (send_methstat(channel, GATEWAY_KIND_STATUS, &status) != 0)
        return -1;
    recv_struct(channel, GATEWAY_KIND_REPLY, &reply);
    return reply.value;
}

// A file-list stream's output file, made anew. False (the reason logged)
// when it cannot be made.
bool open_output_file(NetStream *stream) {
    if (stream->writeFile != nullptr) {
        file_delete(stream->writeFile);
        stream->writeFile = nullptr;
    }
    try {
        korvo::rt::Frame frame;
        stream->writeFile = create_output_file(stream->distId);
        return true;
    } catch (const korvo::rt::Exception &e) {
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: %s", e.what());
        return false;
    }
}

int32_t begin_transfer(NetStream *stream) {
    if (writes_to_file(stream)) {
        stream->chunkSize = NET_STREAM_CHUNK_SIZE;
        if (!open_output_file(stream))
            return -1;
    } else {
        const int32_t granted = ask_for_window();
        if (granted < 0) {
            send_end_of_transfer();
            return granted;
        }
        stream->chunkSize = std::min(granted, kLargestChunk);
    }
    // A fresh buffer of the granted size: one left by an unfinished
    // transfer may be smaller than this window.
    mg_free(stream->buffer);
    stream->buffer = static_cast<char *>(mg_malloc(std::max(stream->chunkSize, 1)));
    stream->fill = 0;
    if (stream->buffer != nullptr)
        return 0;
    LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: Not enough memory for a %d-byte write buffer\n",
           stream->chunkSize);
    if (!writes_to_file(stream))
        send_end_of_transfer();
    return -1;
}

int32_t write_bytes(NetStream *stream, const char *data, int32_t length) {
    if (stream->buffer == nullptr || length < 0 || (data == nullptr && length > 0))
        return -1;
    if (length > 0 && stream->chunkSize <= 0) {
        // A window of no bytes: nothing can go up, so the transfer ends
        // as if the gateway had refused.
        if (!writes_to_file(stream))
            send_end_of_transfer();
        return -1;
    }
    int32_t remaining = length;
    while (remaining > 0) {
        const int32_t part = std::min(stream->chunkSize - stream->fill, remaining);
        std::memcpy(stream->buffer + stream->fill, data, static_cast<std::size_t>(part));
        stream->fill += part;
        data += part;
        remaining -= part;
        if (stream->fill == stream->chunkSize) {
            const int32_t answer = pass_full_chunk(stream);
            if (answer < 0)
                return answer;
        }
    }
    return length;
}

int32_t end_transfer(NetStream *stream) {
    int32_t answer = 0;
    if (stream->fill > 0)
        answer = flush_chunk(stream);
    stream->fill = 0;
    if (!writes_to_file(stream))
        send_end_of_transfer();
    mg_free(stream->buffer);
    stream->buffer = nullptr;
    if (writes_to_file(stream)) {
        std::unique_ptr<FileRecord, FileDelete> file(stream->writeFile);
        stream->writeFile = nullptr;
        if (file != nullptr)
            file_close(file.get());
        return 0;
    }
    return answer < 0 ? answer : 0;
}

}  // namespace

int32_t flush_chunk(NetStream *stream) {
    const int32_t size = stream->fill;
    if (writes_to_file(stream)) {
        file_write(stream->writeFile, stream->buffer, size);
        stream->fill = 0;
        return 0;
    }
    stream->fill = 0;
    IomHandle *channel = ecp_get_ipc_handle();
    if (net_send_protected(channel, stream->buffer, static_cast<uint32_t>(size), GATEWAY_KIND_DATA,
                           ep_session_id()) != 0)
        return -1;
    GatewayReply reply{0, -1};
    recv_struct(channel, GATEWAY_KIND_REPLY, &reply);
    return reply.value < 0 ? reply.value : 0;
}

int32_t pass_full_chunk(NetStream *stream) {
    const int32_t answer = flush_chunk(stream);
    if (answer < 0 && !writes_to_file(stream))
        send_end_of_transfer();
    return answer;
}

void send_end_of_transfer() {
    net_send_protected(ecp_get_ipc_handle(), nullptr, 0, GATEWAY_KIND_END, ep_session_id());
}

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

int32_t net_stream_write_begin(NetStream *stream) {
    return stream != nullptr ? begin_transfer(stream) : -1;
}

int32_t net_stream_write(NetStream *stream, const void *data, int32_t length) {
    return stream != nullptr ? write_bytes(stream, static_cast<const char *>(data), length) : -1;
}

int32_t net_stream_write_end(NetStream *stream) {
    return stream != nullptr ? end_transfer(stream) : -1;
}
}
