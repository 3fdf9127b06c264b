#include "receive_reader.hpp"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>

#include "failure.hpp"
#include "stream/copy_segment.h"
#include "stream/read_segment.h"

namespace korvo::cli {

namespace {

enum class Copied {
    kNothing,  // the kernel would not: the read's bytes are still to be written
    kIn,       // the read's bytes and what followed them are in the output
    kStopped,  // as kIn, and the hooks asked to stop
};

// Segment `index` from the bytes the last read handed out on, by an
// in-kernel copy into its output, counted piece by piece as the reads would
// count it. A data file that changed under the copy leaves the segment's
// output empty (its bytes may mix two contents) and the Failure goes on.
Copied copy_rest(NetStream *stream, uint32_t index, SegmentState &segment, OutputFiles &outputs,
                 const ReadHooks &hooks, ReadResult &result) {
    struct Progress {
        uint32_t index;
        SegmentState &segment;
        const ReadHooks &hooks;
        ReadResult &result;
        int64_t counted = 0;
        bool stop = false;
        std::exception_ptr failed;  // nothing may unwind through the library
    } progress{index, segment, hooks, result, 0, false, nullptr};
    const NetStreamCopyProgress after = [](void *context, int64_t copied) -> int32_t {
        auto &p = *static_cast<Progress *>(context);
        const auto fresh = static_cast<uint64_t>(copied - p.counted);
        p.counted = copied;
        p.segment.got += fresh;
        p.result.received += fresh;
        try {
            if (p.hooks.written)
                p.hooks.written(p.index, p.segment.kept + p.segment.got);
            p.stop = p.hooks.after && p.hooks.after(p.result.received);
        } catch (...) {
            p.failed = std::current_exception();
            p.stop = true;
        }
        return p.stop ? 1 : 0;
    };
    int64_t copied = 0;
    try {
        library_call([&] {
            copied = net_stream_copy_segment(
                stream, outputs.descriptor(index), static_cast<int64_t>(segment.kept + segment.got),
                static_cast<int64_t>(segment.size - segment.kept - segment.got), after, &progress);
        });
    } catch (const Failure &) {
        outputs.cut(index, 0);
        result.received -= std::min<uint64_t>(result.received, segment.got);
        segment.kept = segment.got = 0;
        throw;
    }
    if (progress.failed)
        std::rethrow_exception(progress.failed);
    // A last piece shorter than asked (the file ended) got no call.
    if (copied > progress.counted)
        after(&progress, copied);
    if (progress.failed)
        std::rethrow_exception(progress.failed);
    return copied == 0 ? Copied::kNothing : progress.stop ? Copied::kStopped : Copied::kIn;
}

}  // namespace

void read_distribution(NetStream *stream, std::vector<SegmentState> &segments, OutputFiles &outputs,
                       const ReadHooks &hooks, ReadResult &result) {
    result = ReadResult{};
    std::vector<uint32_t> open;  // the segments still to come, in TOC order
    for (uint32_t i = 0; i < segments.size(); ++i)
        if (!segments[i].complete())
            open.push_back(i);
    const bool network = stream->type < NET_STREAM_FILES;

    // A network stream ends every segment still to come with one read of
    // 0 (an empty packet, or the end of the stream). A file-kind stream
    // gives a 0 at the end of each file and for each name of its list that
    // it passes over (a complete segment, a name no segment has), so at
    // most one per TOC segment and one for the end of the list; it is read
    // until every segment is complete and the file that completed the last
    // one has ended, so that a file longer than its segment shows.
    const auto all_complete = [&] {
        return std::all_of(open.begin(), open.end(),
                           [&](uint32_t i) { return segments[i].complete(); });
    };
    size_t ends = 0;
    while (!open.empty() && (network ? ends < open.size() : ends <= segments.size())) {
        char *data = nullptr;
        int32_t n = 0;
        if (network)
            result.reading = open[ends];
        library_call([&] { n = net_stream_read(stream, &data); });
        if (n < 0) {
            result.stop = n;
            if (network)
                result.segment = open[ends];
            return;
        }
        if (n == 0) {
            if (network && !segments[open[ends]].complete()) {
                result.segment = open[ends];
                result.short_end = true;
                return;
            }
            ++ends;
            if (!network && all_complete())
                break;
            continue;
        }
        std::unique_ptr<char, std::function<void(char *)>> owned(
            data, [stream](char *block) { net_stream_free_buffer(stream, block); });
        int32_t index =
            network ? static_cast<int32_t>(open[ends]) : net_stream_read_segment(stream);
        if (index < 0 || static_cast<size_t>(index) >= segments.size() ||
            (segments[index].complete() && segments[index].got == 0)) {
            if (index >= 0 && static_cast<size_t>(index) < segments.size())
                result.segment = static_cast<uint32_t>(index);
            result.stray = true;
            return;
        }
        result.reading = static_cast<uint32_t>(index);
        SegmentState &segment = segments[static_cast<size_t>(index)];
        const uint64_t room = segment.size - segment.kept - segment.got;
        const uint64_t take = std::min<uint64_t>(room, static_cast<uint64_t>(n));
        // More of the segment to come: the kernel copies it, up to the
        // segment's size, from the read's first byte on; whatever the file
        // holds beyond the size comes through the next read and shows as
        // too much.
        if (hooks.copy_in_kernel && !network && take == static_cast<uint64_t>(n) && take < room) {
            const Copied copied =
                copy_rest(stream, static_cast<uint32_t>(index), segment, outputs, hooks, result);
            if (copied == Copied::kStopped) {
                result.interrupted = true;
                return;
            }
            if (copied == Copied::kIn)
                continue;
        }
        if (take > 0) {
            outputs.write(static_cast<uint32_t>(index), segment.kept + segment.got, data,
                          static_cast<size_t>(take));
            segment.got += take;
            result.received += take;
            if (hooks.written)
                hooks.written(static_cast<uint32_t>(index), segment.kept + segment.got);
        }
        if (take < static_cast<uint64_t>(n)) {
            result.segment = static_cast<uint32_t>(index);
            result.overlong = true;
            return;
        }
        if (hooks.after && hooks.after(result.received)) {
            result.interrupted = true;
            return;
        }
    }
    for (uint32_t i : open)
        if (!segments[i].complete()) {
            result.segment = i;
            result.short_end = true;
            return;
        }
    return;
}

}  // namespace korvo::cli
