// What the stream files share: the block a stream lives in, the owned
// parts of a stream, and small helpers over keys and lengths.
//
// A stream made by net_stream_open or file_stream_open lives in a
// StreamBlock: the public NetStream first, then what the library must know
// about it and the structure has no field for (what `source` holds, where
// its reads stand in the TOC, the bytes of the last read not yet
// checkpointed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "stream/file_stream.h"
#include "stream/net_stream.h"
#include "stream/segment_cursor.hpp"

namespace korvo::stream {

// What the public `source` of a stream of ours holds, recorded beside it so
// that the caller's key and the stream's own file-list state are told apart
// by what was put there, not by the stream's type. (A channel stream, type
// 1, is the caller's own structure: its `source` is always its I/O handle.)
enum class SourceKind : uint8_t {
    kNone,      // nothing (a send stream)
    kKey,       // the caller's StreamKey, which the stream reads its text from
    kFileList,  // a FileStreamState the stream owns and frees
};

struct StreamBlock {
    NetStream stream;                           // first, so that a NetStream * is a StreamBlock *
    SourceKind sourceKind = SourceKind::kNone;  // what `stream.source` holds
    // Where the reads stand in the TOC (owned; made at the first read that
    // finds a TOC, released with the block).
    SegmentCursor *cursor = nullptr;
    // Bytes the last read handed out: checkpointed by the next read, once the
    // caller came back for more (so never before it had them).
    int32_t handedOut = 0;
    // A read refused the gateway's packets: later reads answer -1.
    bool broken = false;
    // Checkpoints are synced to the disk (net_stream_set_durable).
    bool durable = false;
    // The buffer the last file-kind read handed out, and its size: when the
    // caller gives that one back it becomes the spare, which the next read
    // fills instead of allocating (owned; released with the block).
    char *lastOut = nullptr;
    std::size_t lastOutSize = 0;
    char *spare = nullptr;
    std::size_t spareSize = 0;
};

// A buffer of `size` bytes for a file-kind read: the spare when it is large
// enough, else a new mg block (nullptr when memory is exhausted).
char *take_read_buffer(NetStream *stream, std::size_t size);

// Remembers `buffer` (of `size` bytes) as the one a read hands out.
void note_handed_out(NetStream *stream, char *buffer, std::size_t size);

inline StreamBlock *block_of(NetStream *stream) {
    return reinterpret_cast<StreamBlock *>(stream);
}

// The stream's file-list state, or nullptr when its source is something else
// (the caller's key, an I/O handle, nothing). A type-1 stream is the
// caller's own structure, not a block of ours.
inline FileStreamState *state_of(NetStream *stream) {
    return stream != nullptr && stream->type != NET_STREAM_IOM &&
                   block_of(stream)->sourceKind == SourceKind::kFileList
               ? static_cast<FileStreamState *>(stream->source)
               : nullptr;
}

// The caller's key the stream was opened with, while it is the source;
// nullptr otherwise.
inline const StreamKey *key_of(NetStream *stream) {
    return stream != nullptr && stream->type != NET_STREAM_IOM &&
                   block_of(stream)->sourceKind == SourceKind::kKey
               ? static_cast<const StreamKey *>(stream->source)
               : nullptr;
}

// Makes the caller's `key` the stream's source.
inline void use_key_source(NetStream *stream, StreamKey *key) {
    stream->source = key;
    block_of(stream)->sourceKind = SourceKind::kKey;
}

inline bool is_file_kind(const NetStream *stream) {
    return stream->type >= NET_STREAM_FILES;
}

// The stream's cursor over its TOC, made (again) when the TOC is new; nullptr
// when the stream has no TOC.
SegmentCursor *cursor_of(NetStream *stream);

// A new zeroed stream block (an mg block), or nullptr.
NetStream *new_stream();
// A new zeroed state over a copy of `text` (NULL: none), or nullptr when
// memory is exhausted.
FileStreamState *new_state(const char *text);
// Closes the state's file and frees its text and the state.
void free_state(FileStreamState *state);
// Gives the stream `state` as its source (the caller's key, if it was one,
// is left alone; an earlier state is released).
void adopt_state(NetStream *stream, FileStreamState *state);
// Releases everything the stream owns and the stream itself, without
// touching its progress record's file (the record is freed).
void free_stream(NetStream *stream);

struct StreamFree {
    void operator()(NetStream *stream) const noexcept { free_stream(stream); }
};
using StreamPtr = std::unique_ptr<NetStream, StreamFree>;

// The key's text from byte 3: up to its NUL, never beyond the key's length.
std::string_view key_text(const StreamKey *key);

// The decimal text of a length.
std::string length_text(const int64_length *length);

}  // namespace korvo::stream
