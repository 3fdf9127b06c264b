// The modified-TOC step: the stream's own copy of the TOC, the segments it
// can already locate, the file list a file-kind stream reads, and a
// complete distribution recorded as such.
//
// Locating works on a Toc view of the stream's copy: a located segment is
// marked and its data file appended to the file list. Today a segment is
// located when an earlier size query wrote its "dat_file"; the local depot
// check of network streams and the searches of description files, remote
// directories and CD drives are further steps of locate_segments.
#include <memory>
#include <string>
#include <vector>

#include "properties/catalog_raise.hpp"
#include "properties/korvo_catalog.h"
#include "properties/korvo_properties.h"
#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/net_stream.h"
#include "stream/stream_internal.hpp"
#include "stream/stream_progress.hpp"

namespace korvo::stream {

namespace {

// A view over the stream's copy: the segment records go with it, the list
// stays the stream's.
struct TocViewFree {
    void operator()(Toc *toc) const noexcept {
        toc_free_buffer(toc);
        mg_free(toc);
    }
};
using TocView = std::unique_ptr<Toc, TocViewFree>;

void mark(Toc *toc, Segment *segment) {
    segment->marked = 1;
    ++toc->marked_count;
}

// Segments whose "dat_file" an earlier size query wrote are located there.
void take_known_data_files(Toc *toc, std::vector<std::string> &paths) {
    for (int32_t i = 0; i < toc->count; ++i) {
        Segment *segment = toc->segments[i];
        if (segment->marked != 0)
            continue;
        const char *path = properties_get_string2(segment->properties, "dat_file", nullptr);
        if (path == nullptr)
            continue;
        const std::string copy(path);
        properties_put_string_dup(segment->properties, "data_path", copy.c_str());
        paths.push_back(copy);
        mark(toc, segment);
    }
}

[[noreturn]] void raise_first_unmarked(const Toc *toc) {
    for (int32_t i = 0; i < toc->count; ++i)
        if (toc->segments[i]->marked == 0)
            korvo::helpers::raise_message(KORVO_MSG_SEGMENT_NOT_FOUND, toc->segments[i]->id,
                                          toc->segments[i]->version);
    korvo::helpers::raise_message(KORVO_MSG_SEGMENT_NOT_FOUND, "", "");
}

std::string join(const std::vector<std::string> &paths) {
    std::string text;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i != 0)
            text += ',';
        text += paths[i];
    }
    return text;
}

void locate_segments(NetStream *stream) {
    TocView toc(toc_from_properties(stream->toc));
    std::vector<std::string> paths;
    const bool cds = stream->type == NET_STREAM_CDS;
    if (stream->type != NET_STREAM_NETWORK && !cds) {
        take_known_data_files(toc.get(), paths);
        if (toc->marked_count < toc->count)
            raise_first_unmarked(toc.get());
    }
    if (!cds && toc->marked_count == toc->count) {
        FileStreamState *state = new_state(join(paths).c_str());
        if (state == nullptr)
            vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "file list");
        adopt_state(stream, state);
    }
}

// With progress kept: a distribution whose every segment the caller's TOC
// shows complete is recorded as complete at once.
void record_if_complete(NetStream *stream, const PropertiesList *toc) {
    for (uint32_t i = 0; toc->buffer != nullptr && i < toc->length; ++i)
        if (properties_get_long2(&toc->buffer[i], "offset", 0) !=
            properties_get_long2(&toc->buffer[i], "size", 0))
            return;
    take_totals(stream, stream->toc);
    const std::string total = length_text(stream->totalLength);
    put_text(stream, "t_len", total.c_str());
    put_text(stream, "c_len", total.c_str());
    try {
        mstat_save(stream->progress);
    } catch (const korvo::rt::Exception &) {
        // Not reported: the next checkpoint or the close saves again.
    }
}

}  // namespace

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

void net_stream_save_modified_toc(NetStream *stream, const PropertiesList *toc) {
    if (toc == nullptr)
        korvo::helpers::raise_message(KORVO_MSG_MODIFIED_TOC_NULL);
    if (stream == nullptr)
        return;
    korvo::rt::Frame frame;
    PropertiesList *copy = properties_list_clone(toc);
    if (copy == nullptr)
        vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", "TOC copy");
    if (stream->toc != nullptr) {
        properties_list_delete(stream->toc);
        mg_free(stream->toc);
    }
    stream->toc = copy;
    const int32_t type = stream->type;
    if (type == NET_STREAM_NETWORK || (type > NET_STREAM_FILES && type <= NET_STREAM_CDS))
        locate_segments(stream);
    if (stream->keepsProgress != 0 && stream->progress != nullptr)
        record_if_complete(stream, toc);
}
}
