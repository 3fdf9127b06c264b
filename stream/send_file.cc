// Sending a file through a net stream: from an offset (64-bit, so that the
// tail of a file beyond 4 GiB can be sent) to its end, read straight into
// the stream's chunk buffer in pieces of the granted size.
#include <cerrno>
#include <memory>

#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/helpers/file_helpers.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"
#include "stream/net_stream_write.h"
#include "stream/write_internal.hpp"

namespace korvo::stream {

namespace {

using korvo::helpers::raise_message;

struct FileDelete {
    void operator()(FileRecord *file) const noexcept { file_delete(file); }
};
using FilePtr = std::unique_ptr<FileRecord, FileDelete>;

// The file to send, open for reading at `offset`. Only a regular file is
// sent (a FIFO or a device has no end to send up to); it is opened without
// waiting for a FIFO's writer.
FilePtr open_source(const char *path, int64_t offset) {
    using namespace korvo::host;
    FilePtr file(file_open(path, HostOpenFlags(kOpenRead | kOpenNonBlock)));
    FileInfo status;
    if (!StatFile(file->fd, &status) || status.kind != FileKind::kRegular)
        raise_message(KORVO_MSG_FILE_OPEN_FAILED, path);
    MakeBlocking(file->fd);
    if (offset > 0 && SeekFile(file->fd, static_cast<int64_t>(offset)) < 0)
        raise_message(KORVO_MSG_FILE_SEEK_FAILED, file->name, errno);
    return file;
}

// Reads the rest of the file into the stream's buffer, sending each chunk
// that fills; the last, partial one stays for the end. 0, or the negative
// answer of a refused chunk (the transfer then ended).
int32_t send_contents(NetStream *stream, FileRecord *file) {
    if (stream->chunkSize <= 0) {
        // A window of no bytes: a file with data cannot go up, which the
        // write says (and ends the transfer for).
        char first;
        return file_read(file, &first, 1) == 0 ? 0 : net_stream_write(stream, &first, 1);
    }
    for (;;) {
        const int32_t n =
            file_read(file, stream->buffer + stream->fill, stream->chunkSize - stream->fill);
        if (n == 0)
            return 0;
        stream->fill += n;
        if (stream->fill == stream->chunkSize) {
            const int32_t answer = pass_full_chunk(stream);
            if (answer < 0)
                return answer;
        }
    }
}

// After a file error in the middle of a transfer: the bytes read so far
// are dropped and the transfer ends, so that the gateway does not wait for
// the rest (or the output file is closed).
void abandon(NetStream *stream) noexcept {
    stream->fill = 0;
    try {
        net_stream_write_end(stream);
    } catch (const korvo::rt::Exception &) {
        // The file error that made us stop is the one the caller hears of.
    }
}

int32_t send_file(NetStream *stream, const char *path, int64_t offset) {
    korvo::rt::Frame frame;
    const FilePtr file = open_source(path, offset);
    const int32_t begun = net_stream_write_begin(stream);
    if (begun < 0)
        return begun;
    int32_t answer;
    try {
        answer = send_contents(stream, file.get());
    } catch (...) {
        abandon(stream);
        throw;
    }
    if (answer < 0)
        return answer;
    return net_stream_write_end(stream);
}

}  // namespace

}  // namespace korvo::stream

extern "C" int32_t net_stream_send_file(NetStream *stream, const char *path, int64_t offset) {
    return stream != nullptr ? korvo::stream::send_file(stream, path, offset) : -1;
}
