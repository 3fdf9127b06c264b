// The in-kernel copy of the rest of a file-list stream's current segment,
// piece by piece, each piece checkpointed once it is in the output.
#include "stream/copy_segment.h"

#include <algorithm>
#include <string>

#include "kes/kes_copy_range.hpp"
#include "properties/helpers/file_helpers.h"
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
    StreamBlock *block = block_of(stream);
    // The copy starts where the last read's bytes began, so that the two
    // files line up page for page as they would for a whole-file copy (a
    // copy that starts 16 KiB in costs a sixth more on ext4); those bytes
    // are the copy's first and the caller does not write them.
    const int64_t handed = block->handedOut;
    const int64_t delivered = span.delivered;
    const int64_t from = span.start + delivered - handed;
    const int64_t wanted = std::min(most, span.remaining() + handed);
    if (from < 0 || wanted <= handed)
        return 0;
    const int in = state->file->fd;
    kes::KesFileShape before;
    if (!kes::KesFileShapeOf(in, &before))
        return 0;

    int64_t copied = 0;
    while (copied < wanted) {
        const int64_t piece = std::min<int64_t>(wanted - copied, NET_STREAM_COPY_PIECE);
        KesStatus status{};
        const int64_t n = kes::KesCopyRange(in, from + copied, out, at + copied, piece, &status);
        if (n <= 0 && copied < handed)
            return 0;  // refused: the caller writes what the read handed out, the reads go on
        if (n <= 0)
            break;  // failed or ended: the reads take over from here
        if (copied < handed && copied + n < handed)
            return 0;  // the file ended inside the read's bytes: the reads will say so
        if (copied < handed)
            block->handedOut = 0;  // they are the copy's now, counted with its first piece
        copied += n;
        span.delivered = delivered + (copied - handed);
        if (stream->keepsProgress != 0)
            account_bytes(stream, n);
        if (n < piece || (progress != nullptr && progress(context, copied) != 0))
            break;
    }
    // The reads go on from the first byte not copied.
    file_seek(state->file, static_cast<int32_t>(span.start + span.delivered));
    if (copied == wanted) {
        // The segment is whole only when its file stayed the file it was
        // before the first piece: a file rewritten or cut meanwhile may have
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
