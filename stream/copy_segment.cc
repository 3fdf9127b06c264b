// The in-kernel copy of the rest of a file-list stream's current segment,
// piece by piece, each piece checkpointed once it is in the output.
#include "stream/copy_segment.h"

#include <algorithm>
#include <string>

#include "kes/kes_copy_range.hpp"
#include "runtime/raise.hpp"
#include "stream/segment_cursor.hpp"
#include "stream/stream_internal.hpp"
#include "stream/stream_progress.hpp"

namespace korvo::stream {

namespace {

constexpr const char *kChangedUnderCopy =
    "The file %1$s changed while segment %2$s was copied from it.\n";

int64_t copy_segment(NetStream *stream, int32_t out, int64_t at, int64_t most,
                     NetStreamCopyProgress progress, void *context) {
    if (out < 0 || at < 0 || most <= 0 || !is_file_kind(stream) || block_of(stream)->broken)
        return 0;
    FileStreamState *state = state_of(stream);
    SegmentCursor *cursor = cursor_of(stream);
    if (state == nullptr || state->file == nullptr || state->file->fd < 0 || cursor == nullptr ||
        cursor->current() >= cursor->count())
        return 0;
    SegmentSpan &span = cursor->span(cursor->current());
    if (span.remaining() <= 0)
        return 0;
    const int in = state->file->fd;
    kes::KesFileShape before;
    if (!kes::KesFileShapeOf(in, &before))
        return 0;

    // What the last read handed out is in the output now: it counts before
    // anything copied does, as the next read would have counted it.
    StreamBlock *block = block_of(stream);
    const int32_t handed = block->handedOut;
    block->handedOut = 0;
    if (stream->keepsProgress != 0)
        account_bytes(stream, handed);

    int64_t copied = 0;
    while (span.remaining() > 0 && copied < most) {
        const int64_t piece =
            std::min<int64_t>({span.remaining(), most - copied, NET_STREAM_COPY_PIECE});
        KesStatus status{};
        const int64_t n = kes::KesCopyRange(in, out, at + copied, piece, &status);
        if (n <= 0)
            break;  // refused, failed or ended: the reads take over from here
        span.delivered += n;
        copied += n;
        if (stream->keepsProgress != 0)
            account_bytes(stream, n);
        if (n < piece || (progress != nullptr && progress(context, copied) != 0))
            break;
    }
    if (copied > 0 && (span.remaining() == 0 || copied == most)) {
        // The segment is complete only when its file stayed the file it was
        // at the first piece: a file rewritten or cut meanwhile may have
        // given bytes of two different contents.
        kes::KesFileShape after;
        if (!kes::KesFileShapeOf(in, &after) || !(after == before)) {
            const std::string path = state->file->name != nullptr ? state->file->name : "?";
            vaThrow(nullptr, -1, kChangedUnderCopy, path.c_str(),
                    segment_name(stream->toc, cursor->current()).c_str());
        }
    }
    return copied;
}

}  // namespace

}  // namespace korvo::stream

extern "C" int64_t net_stream_copy_segment(NetStream *stream, int32_t out, int64_t at, int64_t most,
                                           NetStreamCopyProgress progress, void *context) {
    if (stream == nullptr)
        return 0;
    korvo::rt::Frame frame;
    return korvo::stream::copy_segment(stream, out, at, most, progress, context);
}
