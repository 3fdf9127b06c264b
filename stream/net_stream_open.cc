// Opening and closing net streams, and what a stream owns.
#include <cstring>
#include <memory>
#include <string>

#include "depot/depot_ops.h"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/helpers/file_helpers.h"
#include "properties/korvo_properties.h"
#include "records/korvo_length.h"
#include "runtime/gateway.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/raise.hpp"
#include "runtime/seq.h"
#include "stream/cds_source.hpp"
#include "stream/file_stream.h"
#include "stream/net_stream.h"
#include "stream/stream_internal.hpp"
#include "stream/stream_progress.hpp"

namespace korvo::stream {

namespace {

constexpr uint8_t kKeepProgress = 1;

bool is_accepted(uint8_t type) {
    return type >= NET_STREAM_NETWORK && type <= NET_STREAM_CDS && type != 5;
}

// The progress record of `distId` for the stream: made, with the four
// starting keys, and `keepsProgress` set. False when it cannot be made.
bool keep_progress(NetStream *stream, const std::string &distId) {
    stream->progress = new_progress(distId);
    if (stream->progress == nullptr) {
        LogQ("korvo: Cannot make the progress record of distribution %s\n", distId.c_str());
        return false;
    }
    stream->keepsProgress = 1;
    return true;
}

// A type-4 stream over the key's text.
NetStream *open_file_list(const StreamKey *key, bool progress) {
    const std::string text(key_text(key));
    StreamPtr stream(file_stream_open(text.c_str()));
    if (stream == nullptr)
        return nullptr;
    // The record is named by the text up to its first comma; the caller's
    // key is not changed.
    if (progress && !keep_progress(stream.get(), text.substr(0, text.find(','))))
        return nullptr;
    return stream.release();
}

NetStream *open_stream(StreamKey *key) {
    if (key == nullptr || key->buffer == nullptr || key->length == 0)
        return nullptr;
    const uint8_t type = key->buffer[0];
    const bool progress = key->length > 2 && key->buffer[2] == kKeepProgress;
    if (!is_accepted(type))
        return nullptr;
    if (type == NET_STREAM_FILES)
        return open_file_list(key, progress);

    StreamPtr stream(new_stream());
    if (stream == nullptr)
        return nullptr;
    if (type == NET_STREAM_SEND) {
        stream->type = NET_STREAM_SEND;
        return stream.release();
    }
    if (type == NET_STREAM_CDS) {
        if (!cds_source_open())
            return nullptr;
        FileStreamState *state = new_state(nullptr);
        if (state == nullptr)
            return nullptr;
        adopt_state(stream.get(), state);
    } else {
        use_key_source(stream.get(), key);
    }
    stream->type = type;
    stream->chunkSize = NET_STREAM_CHUNK_SIZE;
    if (progress) {
        const std::string text(key_text(key));
        const std::size_t comma = text.find(',');
        if (comma != std::string::npos) {
            stream->sourceDir = mg_strdup(text.c_str() + comma + 1);
            if (stream->sourceDir == nullptr)
                return nullptr;
        }
        if (!keep_progress(stream.get(), text.substr(0, comma)))
            return nullptr;
        // The caller's key now ends at the id.
        if (comma != std::string::npos)
            key->buffer[3 + comma] = '\0';
    }
    return stream.release();
}

}  // namespace

NetStream *new_stream() {
    auto *block = static_cast<StreamBlock *>(mg_calloc(1, sizeof(StreamBlock)));
    return block != nullptr ? &block->stream : nullptr;
}

char *take_read_buffer(NetStream *stream, std::size_t size) {
    StreamBlock *block = block_of(stream);
    if (block->spare != nullptr && block->spareSize >= size) {
        char *buffer = block->spare;
        block->spare = nullptr;
        return buffer;
    }
    return static_cast<char *>(mg_malloc(size));
}

void note_handed_out(NetStream *stream, char *buffer, std::size_t size) {
    block_of(stream)->lastOut = buffer;
    block_of(stream)->lastOutSize = size;
}

SegmentCursor *cursor_of(NetStream *stream) {
    StreamBlock *block = block_of(stream);
    if (stream->toc == nullptr)
        return nullptr;
    if (block->cursor == nullptr || !block->cursor->made_from(stream->toc)) {
        auto cursor = std::make_unique<SegmentCursor>(stream->toc);
        std::unique_ptr<SegmentCursor> old(block->cursor);
        block->cursor = cursor.release();
    }
    return block->cursor;
}

FileStreamState *new_state(const char *text) {
    auto *state = static_cast<FileStreamState *>(mg_calloc(1, sizeof(FileStreamState)));
    if (state == nullptr || text == nullptr)
        return state;
    state->text = mg_strdup(text);
    if (state->text == nullptr) {
        mg_free(state);
        return nullptr;
    }
    state->next = state->text;
    return state;
}

void free_state(FileStreamState *state) {
    if (state == nullptr)
        return;
    if (state->file != nullptr)
        file_delete(state->file);
    mg_free(state->text);
    mg_free(state);
}

void adopt_state(NetStream *stream, FileStreamState *state) {
    free_state(state_of(stream));
    stream->source = state;
    block_of(stream)->sourceKind = SourceKind::kFileList;
}

void free_stream(NetStream *stream) {
    if (stream == nullptr)
        return;
    mstat_free(stream->progress);
    free_state(state_of(stream));
    if (stream->writeFile != nullptr)
        file_delete(stream->writeFile);
    KesStatus status{};
    for (uint32_t i = 0; stream->claimed.buffer != nullptr && i < stream->claimed.length; ++i)
        DepotUnregisterEntry(&status, stream->depot, stream->claimed.buffer[i], 0);
    seq_free_buffer(&stream->claimed);
    if (stream->depot != nullptr)
        DepotFree(&status, stream->depot);
    mg_free(stream->buffer);
    if (stream->toc != nullptr) {
        properties_list_delete(stream->toc);
        mg_free(stream->toc);
    }
    int64_length_delete(stream->totalLength);
    int64_length_delete(stream->currentLength);
    mg_free(stream->sourceDir);
    // A type-1 stream is the caller's own structure, without a block's tail.
    if (stream->type != NET_STREAM_IOM) {
        const std::unique_ptr<SegmentCursor> cursor(block_of(stream)->cursor);
        mg_free(block_of(stream)->spare);
    }
    mg_free(block_of(stream));
}

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

NetStream *net_stream_open(StreamKey *key) {
    try {
        korvo::rt::Frame frame;
        return open_stream(key);
    } catch (const korvo::rt::Exception &e) {
        // Only exhausted memory raises here; the open answers NULL for it, as for
        // every other failure.
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: %s", e.what());
        return nullptr;
    }
}

void net_stream_close(NetStream *stream) {
    if (stream == nullptr)
        return;
    switch (stream->type) {
        case NET_STREAM_IOM:
            iom_close(static_cast<IomHandle *>(stream->source));
            stream->source = nullptr;
            break;
        case NET_STREAM_NETWORK:
        case NET_STREAM_FILES:
        case NET_STREAM_CD:
        case NET_STREAM_REMOTE:
        case NET_STREAM_REMOTE_CD:
        case NET_STREAM_DIRECTORY:
        case NET_STREAM_DEPOT:
        case NET_STREAM_CDS:
            if (stream->keepsProgress != 0 && stream->progress != nullptr)
                save_flag(stream, "close", true, SaveAfter::Closing);
            break;
        default:
            korvo::helpers::raise_message(KORVO_MSG_STREAM_CLOSE_BAD_TYPE, stream->type);
    }
    stream->fill = 0;
    free_stream(stream);
}

void net_stream_free_buffer(NetStream *stream, char *data) {
    if (stream == nullptr || data == nullptr)
        return;
    if (!is_file_kind(stream)) {
        // A network read hands out the data behind the packet's code byte.
        mg_free(data - 1);
        return;
    }
    // The buffer of the last read comes back as the next read's.
    StreamBlock *block = block_of(stream);
    if (data == block->lastOut && block->spare == nullptr) {
        block->spare = data;
        block->spareSize = block->lastOutSize;
        block->lastOut = nullptr;
        return;
    }
    if (data == block->lastOut)
        block->lastOut = nullptr;
    mg_free(data);
}
}
