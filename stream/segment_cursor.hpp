// Where a stream's reads stand in its TOC: for each segment the bytes it may
// still hand out (its "size" less its "offset") and the bytes the reads
// handed out so far. The reads consult it so that no read hands out more
// than a segment holds, nothing after the TOC's last segment, and no end of
// a segment before its last byte.
//
// A network stream walks the segments in TOC order, as the gateway sends
// them (complete ones are skipped without a packet); a file-list stream
// opens them in the order of its list, each at most once, and finds each
// listed name's segment through an index of the segments' "data_path", so
// that a list of n files costs n lookups rather than n scans of the TOC.
//
// Owned by the stream's block (stream_internal.hpp); one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "properties/korvo_types.h"

namespace korvo::stream {

struct SegmentSpan {
    int64_t size = 0;       // the segment's "size"; a negative one counts as 0
    int64_t start = 0;      // its "offset", within [0, size]
    int64_t delivered = 0;  // bytes handed out from `start` on
    bool taken = false;     // a file-list stream opened its file

    int64_t remaining() const { return size - start - delivered; }
};

// What the next packet of a network stream may not be.
enum class StreamFault {
    None,
    BeyondSegment,  // more data than the current segment has left
    BeyondTotal,    // data after the last segment
    EndedEarly,     // an end of segment (or of the stream) before its last byte
};

class SegmentCursor {
  public:
    // The spans of every segment of `toc` (NULL: none).
    explicit SegmentCursor(const PropertiesList *toc);

    std::size_t count() const { return spans_.size(); }
    SegmentSpan &span(std::size_t index) { return spans_[index]; }
    // The TOC the spans were taken from.
    bool made_from(const PropertiesList *toc) const { return toc_ == toc; }

    // Network order: the segment the next bytes belong to; count() once
    // every segment is in.
    std::size_t current() const { return current_; }
    // Data bytes arrived: accepted into the current segment, or refused.
    StreamFault accept(int64_t bytes);
    // An end of segment arrived: the current one is complete and the next
    // incomplete one becomes current, or it is refused. After the last
    // segment every end is accepted (it is the end of the stream).
    StreamFault end_segment();

    // File-list order: opens segment `index` with its "size" and "offset"
    // as they are now (a CDS download may have written them after the
    // cursor was made) and makes it current.
    void open(std::size_t index, int64_t size, int64_t offset);

    // File-list order: the first segment, in TOC order, whose "data_path"
    // is `name` and whose file was not opened yet; count() when there is
    // none. The index is made at the first lookup. A name it does not know,
    // or a segment whose path is no longer the one indexed, makes it again
    // from the TOC before the answer is final.
    std::size_t find_unopened(const char *name);
    // Segment `index` may have a new "data_path" (a CDS download wrote one):
    // it is indexed under that.
    void path_changed(std::size_t index);

  private:
    void skip_complete();
    const char *data_path(std::size_t index) const;
    void index_paths();
    void add_path(std::size_t index);
    void remove_path(std::size_t index);

    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const {
            return std::hash<std::string_view>{}(path);
        }
    };
    // The unopened segments under each path, in TOC order.
    using PathIndex =
        std::unordered_map<std::string, std::vector<std::size_t>, PathHash, std::equal_to<>>;

    const PropertiesList *toc_;
    std::vector<SegmentSpan> spans_;
    std::size_t current_ = 0;
    bool indexed_ = false;
    PathIndex byPath_;
    // Per segment, the list it is indexed in (nullptr: none); the map keeps
    // its elements in place when it grows.
    std::vector<std::vector<std::size_t> *> indexedAs_;
};

// "id^version" of segment `index` of `toc`, for messages ("?" for what is
// missing).
std::string segment_name(const PropertiesList *toc, std::size_t index);

// A segment's offset within [0, size] and a size of at least 0: what the
// reads and the progress totals count with.
int64_t bounded_size(int64_t size);
int64_t bounded_offset(int64_t offset, int64_t size);

}  // namespace korvo::stream
