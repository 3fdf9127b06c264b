// The size query: a stream that reads files locates every segment of the
// caller's TOC ahead of the transfer and writes each one's data file and
// size into it, so that the method can report sizes before it reads.
#include "properties/korvo_types.h"
#include "runtime/raise.hpp"
#include "stream/cds_source.hpp"
#include "stream/locating.hpp"
#include "stream/net_stream.h"

using namespace korvo::stream;

extern "C" {

void net_stream_get_size(NetStream *stream, PropertiesList *toc) {
    if (stream == nullptr || toc == nullptr)
        return;
    const int32_t type = stream->type;
    if (type != NET_STREAM_CD && type != NET_STREAM_REMOTE && type != NET_STREAM_REMOTE_CD &&
        type != NET_STREAM_DIRECTORY && type != NET_STREAM_CDS)
        return;
    korvo::rt::Frame frame;
    const TocView view(toc_from_properties(toc));
    if (view == nullptr)
        return;
    if (type == NET_STREAM_CDS) {
        cds_source_size_query(stream, view.get());
    } else {
        FoundPaths nowhere;
        search_sources(stream, view.get(), nowhere);
    }
    if (!all_marked(view.get()))
        raise_first_unmarked(view.get());
}
}
