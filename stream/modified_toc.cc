// The modified-TOC step: the stream's own copy of the TOC, its segments
// located, the file list a file-kind stream reads, and a complete
// distribution recorded as such.
//
// Locating works on a Toc view of the stream's copy: a located segment is
// marked and its data file appended to the file list. A network stream
// looks into the endpoint's depot and becomes a depot stream when every
// segment is there. A file-kind stream takes the segments an earlier size
// query located ("dat_file"), then searches its sources by type; every
// segment must be found. A CDS stream locates nothing here: its downloads
// fill the list while it reads.
#include <string>
#include <vector>

#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/korvo_properties.h"
#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "stream/locating.hpp"
#include "stream/net_stream.h"
#include "stream/stream_internal.hpp"
#include "stream/stream_progress.hpp"

namespace korvo::stream {

namespace {

// Segments whose "dat_file" an earlier size query wrote are located there.
void take_known_data_files(Toc *toc, FoundPaths &paths) {
    for (int32_t i = 0; i < toc->count; ++i) {
        Segment *segment = toc->segments[i];
        if (segment->marked != 0)
            continue;
        const char *path = properties_get_string2(segment->properties, "dat_file", nullptr);
        if (path == nullptr)
            continue;
        const std::string copy(path);
        properties_put_string_dup(segment->properties, "data_path", copy.c_str());
        paths.add(copy);
        segment->marked = 1;
        ++toc->marked_count;
    }
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
    const TocView toc(toc_from_properties(stream->toc));
    if (toc == nullptr)
        return;
    std::vector<std::string> list;
    FoundPaths paths(&list);
    if (stream->type == NET_STREAM_NETWORK) {
        check_local_depot(stream, toc.get(), paths);
    } else if (stream->type != NET_STREAM_CDS) {
        take_known_data_files(toc.get(), paths);
        search_sources(stream, toc.get(), paths);
        if (!all_marked(toc.get()))
            raise_first_unmarked(toc.get());
    }
    // A network stream that found everything in the depot is a depot stream
    // now and reads the list like any file-kind stream.
    if (is_file_kind(stream) && stream->type != NET_STREAM_CDS && all_marked(toc.get())) {
        FileStreamState *state = new_state(join(list).c_str());
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
