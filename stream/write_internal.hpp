// What the write operations of stream/net_stream_write.h share: the chunk
// that waits in the stream's buffer sent up (or written to the output
// file), the end of a transfer, and the output file of a file-list stream.
// Used on the thread that writes the stream.
#pragma once

#include <cstdint>

#include "properties/helpers/file_helpers.h"
#include "stream/net_stream.h"

namespace korvo::stream {

// Whether the stream writes into its output file rather than up the channel.
inline bool writes_to_file(const NetStream *stream) {
    return stream->type == NET_STREAM_FILES;
}

// Sends the `fill` bytes waiting in the stream's buffer as one data chunk
// and waits for the gateway's answer, or writes them to the output file;
// `fill` becomes 0. Returns 0, or the gateway's negative answer (-1 when
// the channel fails). Writing the file raises as file_write does.
int32_t flush_chunk(NetStream *stream);

// flush_chunk for a buffer that filled in the middle of a transfer: a
// refusal ends the transfer at once.
int32_t pass_full_chunk(NetStream *stream);

// Tells the gateway that the transfer ended (no answer comes).
void send_end_of_transfer();

// Creates "<work dir>/korvo/<distId>" (the directory first, when missing),
// write-only, emptied, read-only for its owner. Raises message 12 (path,
// errno) when it cannot be made; an id that is no plain file name, or a
// "korvo" directory of another account, is refused with EINVAL / EPERM.
FileRecord *create_output_file(const char *distId);

}  // namespace korvo::stream
